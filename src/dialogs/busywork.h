// Blocking work off the window thread, and the way back to it.
//
// A command that waits on the network (connect, bind, search, a server test)
// hands that wait to RunBusy: the work runs on a worker thread while the
// window thread runs a local event loop that serves painting, timers, window
// manager requests and posted calls, but holds keyboard and mouse input back
// (it is delivered once the command is over, as it would be after any blocking
// command). The windows therefore keep painting, progress lines appear as they
// come, and the program still ignores input while the command runs.
//
// Rules for the work:
//   - it never touches widgets, tree nodes or datasets; it computes and returns;
//   - whatever reaches the user from it goes through LogError/LogInfo/Confirm,
//     the main window's AddMessage or UiSeam(), all of which hand themselves to
//     the window thread (RunOnGuiThread, PostToGuiThread below); a call that
//     returns an answer (a box, a question, a prompt) blocks the worker until
//     the user has answered.
//
// Typical use, on the window thread:
//   std::unique_ptr<TLDAPSend> ldap;
//   quorvel::RunBusy([&] { ldap = ConnectServer(record); });
//
// Outside a running application, or when called from a thread other than the
// application's, RunBusy simply runs the work in place. An exception thrown by
// the work is rethrown by RunBusy on the calling thread.
#pragma once

#include <functional>

class QObject;

namespace quorvel {

// Runs `work` on a worker thread; returns when it has finished (see above).
// With serveInput the window thread serves keyboard and mouse input too: the
// caller has installed an event filter that lets through only what may act
// during the work (a Stop command) and swallows the rest.
void RunBusy(const std::function<void()>& work, bool serveInput = false);

// True while the calling thread is the application's (window) thread, or when
// there is no application object at all.
bool OnGuiThread();

// Runs `fn` on the window thread and waits for it to finish; runs it in place
// when already there. An exception thrown by `fn` is rethrown to the caller.
// Only call it from a worker while the window thread runs an event loop (as it
// does during RunBusy), otherwise the caller waits for ever.
void RunOnGuiThread(const std::function<void()>& fn);

// RunOnGuiThread for a call with an answer: returns what `fn` returned.
template <class F>
auto AnswerOnGuiThread(F&& fn) -> decltype(fn()) {
  decltype(fn()) answer{};
  RunOnGuiThread([&] { answer = fn(); });
  return answer;
}

// Queues `fn` to run on the window thread (in posting order, before any later
// RunOnGuiThread call) and returns at once; runs it in place when already
// there. `context` is the object it belongs to: when it is destroyed first,
// the call is dropped.
void PostToGuiThread(QObject* context, std::function<void()> fn);

// True while a RunBusy loop or a TBusyPainting is active on the window thread.
bool BusyWorkRunning();

// For long work that stays on the window thread because it touches widgets or
// datasets (writing the working table, filling a tree): Tick() once per step;
// at most every `intervalMs` it serves painting, timers and posted calls,
// holding input back as RunBusy does. Cheap enough to call for every row.
// While one exists BusyWorkRunning() is true.
class TBusyPainting {
 public:
  explicit TBusyPainting(int intervalMs = 100);
  ~TBusyPainting();
  TBusyPainting(const TBusyPainting&) = delete;
  TBusyPainting& operator=(const TBusyPainting&) = delete;
  void Tick();

 private:
  long long intervalNs_;
  long long last_;
};

}  // namespace quorvel
