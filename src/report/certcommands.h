// quorvel-report's certificate commands and its answer to an untrusted
// certificate. The runner never asks: a certificate that fails verification
// and is not trusted for the server at its host and port, or was trusted and
// has expired since, ends the run (exit 2) with a message that gives its
// SHA-256 fingerprint and the command that trusts it (again):
//   quorvel-report --show-certificate --server NAME
//       connects, prints the certificate's details and fingerprint, stores nothing;
//   quorvel-report --trust-certificate FINGERPRINT --server NAME
//       connects and remembers the certificate for NAME only when the server
//       presents exactly that fingerprint (colon-separated or plain
//       hexadecimal, either letter case, as `openssl x509 -fingerprint -sha256`
//       prints it).
#pragma once

#include <optional>
#include <string>

#include "store/trust.h"

class Tdata;

namespace quorvel {

// The runner's prompt: answers Cancel and keeps the last question.
class TRefusingTrustPrompt : public TTrustPrompt {
 public:
  TTrustAnswer Ask(const TTrustQuestion& question) override {
    last = question;
    return taCancel;
  }
  std::optional<TTrustQuestion> last;
};

// The message for a refused certificate of server name; catalogueArg is the
// --catalogue value given (empty: none), repeated in the suggested command.
std::string UntrustedCertificateMessage(const TTrustQuestion& question, const std::string& name,
                                        const std::string& catalogueArg);

// The two commands; exit statuses as the runner's (0, 1 usage, 2 connection
// or fingerprint mismatch, 5 the catalogue could not be written).
int ShowCertificateCommand(Tdata& d, const std::string& name);
int TrustCertificateCommand(Tdata& d, const std::string& name, const std::string& fingerprint);

}  // namespace quorvel
