#include "dialogs/busywork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <exception>
#include <thread>

namespace quorvel {

namespace {
int g_busyDepth = 0;  // window thread only
}

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

bool BusyWorkRunning() {
  return g_busyDepth > 0;
}

void RunBusy(const std::function<void()>& work, bool serveInput) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || !OnGuiThread()) {
    work();
    return;
  }
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  QEventLoop loop;
  QPointer<QEventLoop> guard(&loop);
  ++g_busyDepth;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    // Wakes the loop; posted after every call the work made, so those run first.
    QMetaObject::invokeMethod(
        app,
        [guard] {
          if (guard) guard->quit();
        },
        Qt::QueuedConnection);
  });
  const QEventLoop::ProcessEventsFlags input =
      serveInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents;
  // The quit may have been posted already: it is queued, so exec() still sees it.
  loop.exec(input);
  // A nested loop (a box opened on the worker's behalf) can make exec() return
  // early only through quit(), which only the worker asks for; wait for the end
  // regardless, still serving the window.
  while (!done) loop.processEvents(input | QEventLoop::WaitForMoreEvents);
  worker.join();
  --g_busyDepth;
  if (failure) std::rethrow_exception(failure);
}

namespace {
long long NowNs() {
  static QElapsedTimer clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return clock.nsecsElapsed();
}
}  // namespace

TBusyPainting::TBusyPainting(int intervalMs)
    : intervalNs_(static_cast<long long>(intervalMs) * 1000000), last_(NowNs()) {
  if (OnGuiThread()) ++g_busyDepth;
}

TBusyPainting::~TBusyPainting() {
  if (OnGuiThread()) --g_busyDepth;
}

void TBusyPainting::Tick() {
  const long long now = NowNs();
  if (now - last_ < intervalNs_) return;
  if (QCoreApplication::instance() && OnGuiThread())
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  last_ = NowNs();
}

void RunOnGuiThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || OnGuiThread()) {
    fn();
    return;
  }
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      app,
      [&] {
        try {
          fn();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
}

void PostToGuiThread(QObject* context, std::function<void()> fn) {
  if (OnGuiThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(context ? context : QCoreApplication::instance(), std::move(fn),
                            Qt::QueuedConnection);
}

}  // namespace quorvel
