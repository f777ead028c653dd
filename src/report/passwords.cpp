#include "report/passwords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/keyring.h"
#include "report/reportrun.h"
#include "store/messages.h"
#include "store/secrets.h"

namespace quorvel {
namespace {

// Closes a descriptor when it goes.
struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads from fd up to the first line break (or the end, or 4 KiB) into out.
bool ReadLine(int fd, std::string& out) {
  keyring::Wipe(out);
  out.reserve(4096);
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0 || c == '\n') break;
    if (out.size() >= 4096) break;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();
  c = 0;
  return true;
}

int ReadPasswordFile(const std::string& path, std::string& password) {
  TFd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) {
    LogError("cannot read the password file " + path + ": " + std::strerror(errno));
    return reUsage;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    LogError("the password file " + path + " is not a regular file");
    return reUsage;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    LogError("the password file " + path + " may be read or changed by others (permissions " +
             mode + "), so it is not used: make it private with chmod 600 " + path);
    return reUsage;
  }
  if (!ReadLine(file.fd, password)) {
    LogError("cannot read the password file " + path + ": " + std::strerror(errno));
    return reUsage;
  }
  if (password.empty()) {
    LogError("the password file " + path + " is empty: its first line is the password");
    return reUsage;
  }
  return reOk;
}

// Asks on the controlling terminal with echo off; false without a terminal.
bool PromptOnTerminal(const std::string& prompt, std::string& password) {
  TFd tty{::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)};
  if (tty.fd < 0) return false;
  termios saved{};
  if (::tcgetattr(tty.fd, &saved) != 0) return false;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ICANON;
  if (::write(tty.fd, prompt.data(), prompt.size()) < 0) return false;
  if (::tcsetattr(tty.fd, TCSAFLUSH, &quiet) != 0) return false;
  const bool read = ReadLine(tty.fd, password);
  ::tcsetattr(tty.fd, TCSAFLUSH, &saved);
  if (::write(tty.fd, "\n", 1) < 0) {
    // The line break is only for the eye.
  }
  return read;
}

std::string KeyText(const TServerNodeData& server) {
  return server.uid + " at " + server.server + ":" + std::to_string(server.port);
}

}  // namespace

int ResolvePassword(TServerNodeData& server, const std::string& serverName,
                    const std::string& passwordFile) {
  if (server.auth == "kerberos" || server.uid.empty()) return reOk;
  if (!passwordFile.empty()) {
    keyring::Wipe(server.pwd);
    return ReadPasswordFile(passwordFile, server.pwd);
  }
  if (!NeedsPassword(server)) return reOk;
  const std::string named = "server '" + serverName + "'";
  if (server.secret == kSecretKeyring) {
    std::string why;
    if (ReadKeyringPassword(server, &why,
                            "Run quorvel-report in the desktop session (or under dbus-run-session "
                            "with an unlocked keyring), or give the password of " +
                                named + " with --password-file FILE."))
      return reOk;
    LogError("Error connecting to " + named + ": " + why);
    return reConnect;
  }
  if (!PromptOnTerminal("Password for " + KeyText(server) + " (" + named + "): ", server.pwd)) {
    LogError(named +
             " asks for its password when connecting, and there is no terminal to ask "
             "on: give the password with --password-file FILE (a file only you may read).");
    return reConnect;
  }
  if (server.pwd.empty()) {
    LogError("no password was given for " + KeyText(server) + ", so nothing was sent.");
    return reConnect;
  }
  return reOk;
}

int MovePasswordsCommand(Tdata& d, const std::string& catalogue) {
  const TMoveOutcome out = MovePasswordsToKeyring(d);
  if (out.moved == 0 && out.failed == 0) {
    if (!out.rewritten) {
      LogError("the catalogue " + catalogue + " could not be rewritten: " + out.error);
      return reWrite;
    }
    LogInfo("no server keeps its password in the catalogue " + catalogue + "; nothing to move.");
    return reOk;
  }
  if (out.moved > 0)
    LogInfo(
        "moved " + std::to_string(out.moved) + " password" + (out.moved == 1 ? "" : "s") +
        " to the desktop keyring" +
        (out.rewritten ? "; the catalogue " + catalogue + " keeps none of them any more." : "."));
  if (out.failed > 0) {
    LogError(std::to_string(out.failed) + " password" + (out.failed == 1 ? "" : "s") +
             " could not be stored in the desktop keyring and stay in the catalogue (" + out.error +
             ").");
    return reConnect;
  }
  if (!out.rewritten) {
    LogError("the catalogue " + catalogue +
             " could not be rewritten, so the old passwords' bytes may remain in it: " + out.error);
    return reWrite;
  }
  return reOk;
}

}  // namespace quorvel
