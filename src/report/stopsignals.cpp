// The stop signals of quorvel-report: remove the registered files, then exit
// with 128 + the signal's number.
#include "report/stopsignals.h"

#include <unistd.h>

#include "export/removeonstop.h"

namespace quorvel {
namespace {

constexpr int kStopSignals[3] = {SIGTERM, SIGINT, SIGHUP};

void Stopped(int signal) {
  RemoveFilesLeftOnStop();
  ::_exit(128 + signal);
}

}  // namespace

TStopSignals::TStopSignals() {
  struct sigaction action {};
  action.sa_handler = Stopped;
  sigemptyset(&action.sa_mask);
  // A second stop signal waits while the first one's files are removed.
  for (int s : kStopSignals) sigaddset(&action.sa_mask, s);
  for (int i = 0; i < 3; ++i) {
    sigaction(kStopSignals[i], nullptr, &previous_[i]);
    // A signal ignored from the start (nohup's SIGHUP) stays ignored.
    if (previous_[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &action, nullptr);
  }
}

TStopSignals::~TStopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
}

}  // namespace quorvel
