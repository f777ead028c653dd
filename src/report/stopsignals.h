// How quorvel-report ends when it is asked to stop: on SIGTERM, SIGINT or
// SIGHUP the files registered with TRemoveOnStop (export/removeonstop.h: its
// private working store, a report's temporary file) are removed and the
// program exits with status 128 + the signal's number: at once, or while a
// THoldStopSignals is in force in any of its threads, as soon as the last
// one ends. The destination is never touched: a report replaces it only by a
// rename, or by a copy that holds these signals until it is whole.
//
// SIGPIPE is ignored meanwhile: a reader of standard output that goes away
// fails the next write (EPIPE), and the run ends as on any failed write, its
// files removed the ordinary way.
//
// TStopSignals installs the handlers for its lifetime and puts the previous
// ones back when it goes. Only one may live at a time; nothing here raises.
//
//   TStopSignals stop;              // before any file is made
//   TRemoveOnStop store(path);      // from when the file exists
#pragma once

#include <csignal>

namespace quorvel {

class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  struct sigaction previous_[3];
  struct sigaction previousPipe_;
};

}  // namespace quorvel
