// Opening the working store: a journal that survives a killed process, and a
// damaged file replaced by an empty one.
#include "store/workingstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "sqlstore/dataset.h"

namespace {

// What every working-store connection runs after connecting. Freed pages
// are not overwritten with zeros one by one (secure_delete=FAST, where the
// engine's default may be ON): dropping the last run's million rows then
// frees their pages in a fraction of a second instead of rewriting every one
// of them, and the next run's rows reuse them.
constexpr const char* kWorkingStorePragmas =
    "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF; PRAGMA threads=1; "
    "PRAGMA secure_delete=FAST";

// Sets the journal up and asks the engine whether the file is sound: empty
// when it is, otherwise the engine's words. Only the engine's own errors are
// caught (a missing library or file raised earlier, when connecting).
// Sets the store's journal up. Programs that start at once on a new store
// each turn it to its write-ahead log, which needs the file to themselves
// for a moment, and the engine then says "locked" at once instead of waiting:
// each tries again until the connection's busy time-out has passed.
void SetUpJournal(TASQLite3DB& temp) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(temp.BusyTimeout);
  for (;;) {
    try {
      temp.ExecDirect(kWorkingStorePragmas);
      return;
    } catch (const EDatabaseError& e) {
      const std::string what = e.what();
      const bool busy =
          what.find("locked") != std::string::npos || what.find("busy") != std::string::npos;
      if (!busy || std::chrono::steady_clock::now() >= until) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string CheckedVerdict(TASQLite3DB& temp) {
  try {
    SetUpJournal(temp);
    TASQLite3Query check(&temp);
    check.RawSQL = true;
    check.SetSQL("PRAGMA quick_check(1)");
    check.Open();
    std::string verdict =
        check.RecordCount() > 0 ? std::string(check.CellText(0, 0)) : "no answer to the check";
    check.Close();
    if (verdict == "ok") return std::string();
    // The engine heads its findings with the schema's name on a line of its
    // own; the pane line wants the finding alone, on one line.
    const std::string head = "*** in database main ***";
    if (verdict.rfind(head, 0) == 0) verdict.erase(0, head.size());
    for (char& c : verdict)
      if (c == '\n' || c == '\r') c = ' ';
    const size_t first = verdict.find_first_not_of(' ');
    return first == std::string::npos ? "the engine's check failed" : verdict.substr(first);
  } catch (const EDatabaseError& e) {
    // A store that another running program holds locked is busy, not
    // damaged: it is left alone and the start fails as any other would.
    const std::string what = e.what();
    if (what.find("locked") != std::string::npos) throw;
    return what;
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void Remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw AsgError("Cannot remove the damaged working store " + path + ": " + std::strerror(errno));
}

}  // namespace

TWorkingStoreOpen OpenWorkingStore(TASQLite3DB& temp, const std::string& catalogue) {
  temp.Open();  // raises for a missing library or file
  if (!temp.Connected()) throw AsgError("Could not open " + temp.FullPath());
  TWorkingStoreOpen result;
  result.reason = CheckedVerdict(temp);
  if (result.reason.empty()) return result;

  const std::string path = temp.FullPath();
  temp.Close();
  if (SameFile(path, catalogue))
    throw AsgError("The working store " + path + " is the catalogue itself; it is left alone");
  // The companions first: a stale log must not be rolled into the new file.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) Remove(path + suffix);
  Remove(path);
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0)
    throw AsgError("Cannot create the working store " + path + ": " + std::strerror(errno));
  ::close(fd);
  temp.Open();
  if (!temp.Connected()) throw AsgError("Could not open " + path);
  temp.ExecDirect(kWorkingStorePragmas);
  result.recreated = true;
  return result;
}

std::string TWorkingStoreOpen::Notice(const std::string& path) const {
  if (!recreated) return std::string();
  return "MSG: The working store " + path + " was damaged (" + reason +
         ") and has been created anew; it only held the last run's rows.";
}
