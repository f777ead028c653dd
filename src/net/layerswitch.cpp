#include "net/layerswitch.h"

#include "net/blocksocket.h"
#include "net/sasllayer.h"

namespace quorvel::net {
namespace {

// Octets received before the switch and not yet used: the caller's, the
// socket's buffer and what TLS holds decrypted.
std::size_t InFlight(TTCPBlockSocket& socket, std::size_t held) {
  std::size_t n = held + socket.Buffered();
  TCustomSSL* ssl = socket.SSL();
  if (ssl->SSLEnabled()) {
    const int pending = ssl->PendingBytes();
    if (pending > 0) n += static_cast<std::size_t>(pending);
  }
  return n;
}

// Nothing of the octets in flight may be used: the connection goes.
TSwitch Refuse(TTCPBlockSocket& socket) {
  socket.ClearBuffer();
  socket.Close();
  return TSwitch::Unprotected;
}

}  // namespace

TSwitch StartTls(TTCPBlockSocket& socket, std::size_t held) {
  if (InFlight(socket, held) > 0) return Refuse(socket);
  socket.SslConnect();
  return socket.LastError() == 0 ? TSwitch::Switched : TSwitch::Failed;
}

TSwitch StartSecurityLayer(TTCPBlockSocket& socket, std::size_t held,
                           std::unique_ptr<quorvel::sasl::TSaslLayer> layer) {
  if (InFlight(socket, held) > 0) return Refuse(socket);
  socket.SetSecurityLayer(std::move(layer));
  return TSwitch::Switched;
}

}  // namespace quorvel::net
