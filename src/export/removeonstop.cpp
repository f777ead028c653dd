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

// The holds in force in every thread (THoldStopSignals), with kStopping set
// once the program has begun to stop; and the stop signal that came, 0 while
// none has. Both are lock-free atomics, read and written from handlers.
constexpr int kStopping = 1 << 30;
std::atomic<int> holdState{0};
std::atomic<int> heldSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// A stop is under way in another thread: this one waits for the _exit.
[[noreturn]] void WaitForTheEnd() {
  for (;;) ::pause();
}

// Ends the program on the signal that came, unless a hold is in force: the
// end of the last hold then calls this again. Seen from the hold's side, a
// signal recorded before the hold count is read is never missed, and of two
// threads that both find no hold only one goes on to stop.
void StopNow() {
  int none = 0;
  if (!holdState.compare_exchange_strong(none, kStopping)) {
    if (none & kStopping) WaitForTheEnd();
    return;  // held: the last hold to end stops the program
  }
  RemoveFilesLeftOnStop();
  ::_exit(128 + heldSignal.load());
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

void StopOnSignal(int signal) {
  // The first signal is the one the program ends with.
  int none = 0;
  heldSignal.compare_exchange_strong(none, signal);
  StopNow();
}

bool StopRequested() {
  return heldSignal.load() != 0;
}

THoldStopSignals::THoldStopSignals() {
  // This thread's own waits are not interrupted by a signal that is held;
  // the count holds it for every other thread.
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
  int state = holdState.load();
  for (;;) {
    if (state & kStopping) WaitForTheEnd();
    if (holdState.compare_exchange_weak(state, state + 1)) break;
  }
}

THoldStopSignals::~THoldStopSignals() {
  // The signals are still blocked in this thread: a signal arriving while
  // the held one is acted on cannot run its handler here.
  if (holdState.fetch_sub(1) - 1 == 0 && heldSignal.load() != 0) StopNow();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace quorvel
