// The file-location rule: portable program folder or the user's data folder.
#include "store/filelocations.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

TFileLocations Files;

namespace {

std::string Home() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return std::string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Creates `dir` and the folders above it that are missing, each owner-only.
// Empty when done, otherwise what failed.
std::string MakeFolders(const std::string& dir) {
  std::string path;
  size_t start = 0;
  while (start < dir.size()) {
    size_t slash = dir.find('/', start);
    if (slash == std::string::npos) slash = dir.size();
    path = dir.substr(0, slash);
    start = slash + 1;
    if (path.empty()) continue;  // the root
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) continue;
    return "Cannot create the folder " + path + ": " + std::strerror(errno);
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return "Cannot use " + dir + " as a folder: it is not one";
  return std::string();
}

bool WriteAll(int fd, const std::vector<char>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Copies the installed empty catalogue to `to` (owner-only) unless `to`
// exists: completed under a temporary name, then linked in place, so another
// program starting at the same moment keeps whichever copy came first.
std::string CopyEmptyCatalogue(const std::string& from, const std::string& to) {
  if (Exists(to)) return std::string();
  std::vector<char> bytes;
  {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
      return "Cannot read the installed empty catalogue " + from + ": " + std::strerror(errno) +
             "; reinstall the program.";
    char buf[65536];
    ssize_t n;
    while ((n = ::read(in, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) bytes.insert(bytes.end(), buf, buf + n);
    const int readErrno = errno;
    ::close(in);
    if (n < 0)
      return "Cannot read the installed empty catalogue " + from + ": " + std::strerror(readErrno) +
             "; reinstall the program.";
  }
  std::string tmp = to + ".new-XXXXXX";
  const int out = ::mkstemp(tmp.data());  // created 0600
  if (out < 0) return "Cannot create the catalogue " + to + ": " + std::strerror(errno);
  const bool written = WriteAll(out, bytes) && ::fsync(out) == 0;
  const int writeErrno = errno;
  ::close(out);
  std::string error;
  if (!written)
    error = "Cannot write the catalogue " + to + ": " + std::strerror(writeErrno);
  else if (::link(tmp.c_str(), to.c_str()) != 0 && errno != EEXIST)
    error = "Cannot create the catalogue " + to + ": " + std::strerror(errno);
  ::unlink(tmp.c_str());
  return error;
}

std::string CreateEmptyFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return std::string();
  }
  if (errno == EEXIST) return std::string();
  return "Cannot create the working store " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : Home() + "/.local/share";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/quorvel/";
}

TFileLocations LocateFiles(const std::string& program) {
  TFileLocations f;
  f.program = program;
  f.engine = program + "lib/quorvel.so";
  const std::string lib = program + "lib/";
  f.portable = !Exists(lib + "system-wide") && ::access(lib.c_str(), W_OK) == 0;
  if (f.portable) {
    f.folder = lib;
    f.catalogue = lib + "quorvel.db";
    f.working = lib + "dump.db";
    f.temp = program + "data/";
    return f;
  }
  f.folder = UserDataFolder();
  f.catalogue = f.folder + "quorvel.db";
  f.working = f.folder + "dump.db";
  f.temp = f.folder + "data/";
  if (f.folder.front() != '/') {
    f.error =
        "Cannot tell where your catalogue goes: neither XDG_DATA_HOME nor HOME names a "
        "folder. Set XDG_DATA_HOME to a folder of yours.";
    return f;
  }
  // In order, stopping at the first step that fails. A message that ends in a
  // full stop is complete; the others get the advice about the folder.
  std::string step = MakeFolders(f.folder.substr(0, f.folder.size() - 1));
  if (step.empty()) step = CopyEmptyCatalogue(lib + "quorvel.db", f.catalogue);
  if (step.empty()) step = CreateEmptyFile(f.working);
  if (step.empty()) step = MakeFolders(f.temp.substr(0, f.temp.size() - 1));
  if (!step.empty())
    f.error = step.back() == '.'
                  ? step
                  : step + ". Your catalogue lives in " + f.folder +
                        " ($XDG_DATA_HOME/quorvel, by default ~/.local/share/quorvel); set "
                        "XDG_DATA_HOME to a folder you may write to.";
  return f;
}
