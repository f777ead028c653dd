// Files a program must not leave behind when a signal stops it: the half
// written temporary file of a report, a private working store.
//
//  - TRemoveOnStop registers one path (a file, or an empty-once-its-files-go
//    folder) for as long as the object lives; copies may not be made. A
//    folder registered with TRemoveOnStop::kWithFiles also loses whatever
//    files it holds: the folder given to a library that makes and unlinks
//    its own temporary files, one of which a signal may catch before its
//    unlink.
//  - RemoveFilesLeftOnStop() removes every registered path: files first
//    (unlink), then folders (the files of a kWithFiles folder, then rmdir),
//    each once. It is async-signal-safe: a
//    signal handler calls it just before _exit (report/stopsignals.h). A path
//    that is already gone is skipped silently.
//  - StopOnSignal(signal) is what a stop signal's handler calls
//    (report/stopsignals.h): it removes every registered path and ends the
//    program with _exit(128 + signal), at once when no THoldStopSignals is in
//    force in any thread, else as soon as the last of them ends. Only the
//    first signal counts. Async-signal-safe.
//  - StopRequested() tells, under a hold, that a signal came meanwhile: a
//    report then leaves its destination alone rather than replace it just
//    before the program stops.
//  - THoldStopSignals keeps SIGTERM, SIGINT and SIGHUP from stopping the
//    program for the length of a scope that must not be cut short (a report
//    being copied over the destination in place), whatever threads run: the
//    holds are counted for the whole process, and a signal that arrives
//    meanwhile, on any thread, is acted on when the last hold ends. Holds may
//    nest and may be taken by several threads at once. A hold begun while
//    the program is already stopping waits for the end.
//
// Limits: at most kRemoveOnStopSlots paths are registered at a time and each
// is shorter than PATH_MAX; a path beyond that is not registered (Registered()
// is false) and is only removed the ordinary way. A signal that arrives while
// a path is being registered does not see that path. Nothing here raises.
//
//   TRemoveOnStop guard(tempPath);     // from right after the file is made
//   ... write tempPath, rename it into place ...
//   // guard unregisters when it goes out of scope
#pragma once

#include <csignal>
#include <string>

namespace quorvel {

inline constexpr int kRemoveOnStopSlots = 16;

class TRemoveOnStop {
 public:
  enum TKind { kFile, kFolder, kWithFiles };
  explicit TRemoveOnStop(const std::string& path, TKind kind = kFile);
  ~TRemoveOnStop();
  TRemoveOnStop(const TRemoveOnStop&) = delete;
  TRemoveOnStop& operator=(const TRemoveOnStop&) = delete;
  bool Registered() const { return slot_ >= 0; }

 private:
  int slot_ = -1;
};

void RemoveFilesLeftOnStop();
void StopOnSignal(int signal);
// True once a stop signal has come (it waits for the holds to end).
bool StopRequested();

class THoldStopSignals {
 public:
  THoldStopSignals();
  ~THoldStopSignals();
  THoldStopSignals(const THoldStopSignals&) = delete;
  THoldStopSignals& operator=(const THoldStopSignals&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace quorvel
