// Switching a connection's security layers: the one place where a
// TTCPBlockSocket gets SSL/TLS (implicit SSL, StartTLS) and then a SASL
// security layer (a Kerberos sign-in in clear), with one rule for the octets
// in flight.
//
// The rule: a layer takes over right after the message that asks for it (the
// StartTLS response, the last SASL bind response), so the server sends
// nothing between that message and the layer. Octets received in that gap,
// and not yet used, came unprotected where only protected ones may come (a
// man in the middle appending forged answers to the switching message):
// the switch then closes the connection without using any of them and
// returns Unprotected; the caller reports kUnprotectedText. The octets in
// flight are those the caller read from the socket and keeps itself
// (`held`), the socket's own receive buffer and, under TLS, the octets TLS
// has decrypted and not handed out. What is still in the system's buffer
// goes to the new layer, which refuses it (a failed handshake, a frame that
// fails its check).
//
// Failures: Failed leaves the socket's LastError as SslConnect does (10091,
// 10060, 10053); Unprotected leaves the socket closed (LastError 0).
//
//   switch (quorvel::net::StartTls(socket, unusedOctets)) {
//     case TSwitch::Switched: ...; case TSwitch::Unprotected: report kUnprotectedText ...
//   }
#pragma once

#include <cstddef>
#include <memory>

class TTCPBlockSocket;
namespace quorvel::sasl {
class TSaslLayer;
}  // namespace quorvel::sasl

namespace quorvel::net {

inline constexpr const char* kUnprotectedText =
    "The server sent unprotected data after the sign-in, where only protected data may come: "
    "the connection was closed and none of that data was used (someone between this computer "
    "and the server may be tampering with the connection).";

enum class TSwitch { Switched, Unprotected, Failed };

// The TLS client handshake (with the SSL plug-in's settings as they are).
TSwitch StartTls(TTCPBlockSocket& socket, std::size_t held);
// Puts the negotiated SASL layer under every later send and receive.
TSwitch StartSecurityLayer(TTCPBlockSocket& socket, std::size_t held,
                           std::unique_ptr<quorvel::sasl::TSaslLayer> layer);

}  // namespace quorvel::net
