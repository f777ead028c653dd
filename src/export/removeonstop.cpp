// Registered paths removed when a signal stops the program; the table is
// read from a signal handler, so it is fixed storage with atomic states.
#include "export/removeonstop.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace quorvel {
namespace {

enum : int { kFree = 0, kFilling = 1, kArmed = 2 };

struct TSlot {
  std::atomic<int> state{kFree};
  TRemoveOnStop::TKind kind = TRemoveOnStop::kFile;
  char path[PATH_MAX] = {};
};

TSlot slots[kRemoveOnStopSlots];

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

// Unlinks the plain entries of a folder with open, getdents64 and unlinkat:
// system calls only, as a signal handler may make them. Sub-folders stay
// (their rmdir fails and leaves the folder, as for any folder not empty).
void UnlinkFilesIn(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  alignas(8) char buf[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n <= 0) break;
    for (long i = 0; i < n;) {
      struct TEntry {
        unsigned long long ino;
        long long off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
      };
      const auto* e = reinterpret_cast<const TEntry*>(buf + i);
      const char* name = e->name;
      const bool dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
      if (!dots && e->type != DT_DIR) ::unlinkat(fd, name, 0);
      i += e->reclen;
    }
  }
  ::close(fd);
}

}  // namespace

TRemoveOnStop::TRemoveOnStop(const std::string& path, TKind kind) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  for (int i = 0; i < kRemoveOnStopSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].kind = kind;
    slots[i].state.store(kArmed, std::memory_order_release);
    slot_ = i;
    return;
  }
}

TRemoveOnStop::~TRemoveOnStop() {
  if (slot_ >= 0) slots[slot_].state.store(kFree, std::memory_order_release);
}

void RemoveFilesLeftOnStop() {
  // Only system calls (unlink, rmdir, open, getdents64, unlinkat, close):
  // each is async-signal-safe.
  for (bool folders : {false, true})
    for (TSlot& s : slots)
      if (s.state.load(std::memory_order_acquire) == kArmed &&
          (s.kind != TRemoveOnStop::kFile) == folders) {
        if (s.kind == TRemoveOnStop::kWithFiles) UnlinkFilesIn(s.path);
        if (folders)
          ::rmdir(s.path);
        else
          ::unlink(s.path);
      }
}

THoldStopSignals::THoldStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

THoldStopSignals::~THoldStopSignals() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace quorvel
