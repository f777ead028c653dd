// Registered paths removed when a signal stops the program; the table is
// read from a signal handler, so it is fixed storage with atomic states.
#include "export/removeonstop.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace quorvel {
namespace {

enum : int { kFree = 0, kFilling = 1, kArmed = 2 };

struct TSlot {
  std::atomic<int> state{kFree};
  bool folder = false;
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

}  // namespace

TRemoveOnStop::TRemoveOnStop(const std::string& path, bool folder) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  for (int i = 0; i < kRemoveOnStopSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].folder = folder;
    slots[i].state.store(kArmed, std::memory_order_release);
    slot_ = i;
    return;
  }
}

TRemoveOnStop::~TRemoveOnStop() {
  if (slot_ >= 0) slots[slot_].state.store(kFree, std::memory_order_release);
}

void RemoveFilesLeftOnStop() {
  // Only unlink and rmdir: both are async-signal-safe.
  for (bool folders : {false, true})
    for (TSlot& s : slots)
      if (s.state.load(std::memory_order_acquire) == kArmed && s.folder == folders) {
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
