#include "app/startupreport.h"

#include "store/data.h"
#include "store/filelocations.h"

namespace quorvel {

std::string StartupFailureText(const Tdata* d) {
  std::string text = "Error initializing application!";
  if (!Files.error.empty()) return text + "\r\n" + Files.error;
  if (!d) return text;
  const std::string& why = d->LastError();
  std::string file;
  if (!d->db.Connected())
    file = why.find("library") != std::string::npos ? d->db.DriverDLL() : d->db.Database();
  else if (!d->servers.Active() || !d->profiles.Active())
    file = d->db.Database();
  else
    file = d->temp.Database();
  if (!file.empty()) text += "\r\n\r\nFile: \"" + file + "\"";
  if (!why.empty()) text += "\r\nReason: " + why;
  return text;
}

}  // namespace quorvel
