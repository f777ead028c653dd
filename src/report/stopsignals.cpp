// The stop signals of quorvel-report: remove the registered files, then exit
// with 128 + the signal's number.
#include "report/stopsignals.h"

#include <unistd.h>

#include "export/removeonstop.h"

namespace quorvel {
namespace {

constexpr int kStopSignals[3] = {SIGTERM, SIGINT, SIGHUP};

void Stopped(int signal) {
  StopOnSignal(signal);  // returns only while a THoldStopSignals is in force
}

}  // namespace

TStopSignals::TStopSignals() {
  struct sigaction action {};
  action.sa_handler = Stopped;
  // A signal held for later returns from the handler: the thread it
  // interrupted goes on with its call.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // A second stop signal waits while the first one's files are removed.
  for (int s : kStopSignals) sigaddset(&action.sa_mask, s);
  for (int i = 0; i < 3; ++i) {
    sigaction(kStopSignals[i], nullptr, &previous_[i]);
    // A signal ignored from the start (nohup's SIGHUP) stays ignored.
    if (previous_[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &action, nullptr);
  }
  // A reader that goes away (quorvel-report ... | head) makes the next write
  // fail with EPIPE, which ends the run as any failed write does, instead of
  // a SIGPIPE that would end it before its files are removed.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previousPipe_);
}

TStopSignals::~TStopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
  sigaction(SIGPIPE, &previousPipe_, nullptr);
}

}  // namespace quorvel
