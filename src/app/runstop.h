// The Stop command of a running search, and the input it lets through.
//
// While a command waits on a directory (Run, Browse, Properties) the window
// ignores input, except for this: Esc anywhere in the main window, the Stop
// button on the toolbar and the Stop entry of the Actions menu (both shown
// only while a search runs) set a flag that the search's session looks at
// (TLDAPSend::CancelFlag), so that the search driver abandons the search and
// closes the connection (ldap/searchdriver.h).
//
// TRunStop::TScope shows the command and installs the input gate for the
// length of a command; the command's waits then go through
// RunBusy(work, true) (dialogs/busywork.h). The gate is an application event
// filter that swallows keyboard and mouse input meant for the main window,
// but lets through: Esc (which stops), the Stop button, opening the menus and
// choosing Stop in them (other entries do nothing), and everything meant for
// another window (a box or a question the command opens).
//
//   TRunStop::TScope stop(*runStop_);
//   ldap->CancelFlag = &stop.Flag();
//   RunBusy([&] { results = SearchProfile(ldap.get(), profile, &outcome); }, true);
//   stop.End();
//   if (outcome.Failure == quorvel::sfCancelled) ...
#pragma once

#include <QObject>
#include <atomic>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;

namespace quorvel {

class TRunStop : public QObject {
 public:
  // Adds the hidden Stop entry to `menu` and to `bar` (before `before`).
  TRunStop(QMainWindow* window, QMenu* menu, QToolBar* bar, QAction* before);
  ~TRunStop() override;

  QAction* Action() const { return action_; }
  // The flag the session looks at; true once Stop was chosen.
  const std::atomic<bool>& Flag() const { return flag_; }
  bool Stopped() const { return flag_; }

  class TScope {
   public:
    explicit TScope(TRunStop& stop) : stop_(&stop) { stop.Begin(); }
    ~TScope() { End(); }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;
    const std::atomic<bool>& Flag() const { return stop_->Flag(); }
    bool Stopped() const { return stop_->Stopped(); }
    // Hides the command and removes the gate (also done at scope end).
    void End() {
      if (stop_) stop_->Finish();
      stop_ = nullptr;
    }

   private:
    TRunStop* stop_;
  };

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Begin();
  void Finish();
  void Stop();
  // True when the gate lets the input event through to `watched`.
  bool LetThrough(QObject* watched, QEvent* event) const;

  QMainWindow* window_;
  QToolBar* bar_;
  QAction* action_;
  std::atomic<bool> flag_{false};
  bool active_ = false;
};

}  // namespace quorvel
