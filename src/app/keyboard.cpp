#include "app/keyboard.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>

#include "app/mainform.h"

namespace quorvel {

namespace {

// The desktop's own key for a standard command, or `fallback` where the
// desktop has none (some keyboard schemes have no Quit key).
QList<QKeySequence> Standard(QKeySequence::StandardKey key, const QKeySequence& fallback = {}) {
  QList<QKeySequence> keys = QKeySequence::keyBindings(key);
  if (keys.isEmpty() && !fallback.isEmpty()) keys.append(fallback);
  return keys;
}

// Enter on the main keyboard and on the keypad, and F2: the keys that open
// the selected node's properties.
QList<QKeySequence> PropertiesKeys() {
  return {QKeySequence(Qt::Key_F2), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
}

// The key of an event as a sequence, the keypad's flag left out so that the
// keypad's Enter is Enter.
QKeySequence KeyOf(const QKeyEvent& e) {
  const Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
  return QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(e.key())));
}

// Claims a tree's own keys while the tree has the focus: accepted as a
// shortcut override they reach the tree as key presses, before any window
// shortcut (F5 on the browse tree refreshes the node, it does not run).
class TTreeKeys : public QObject {
 public:
  TTreeKeys(TMainForm& form, QTreeWidget& tree, TKeyScope scope)
      : QObject(&tree), form_(form), tree_(tree), scope_(scope) {
    tree.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &tree_) return false;
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
      return false;
    const TKeyBinding* b = Find(KeyOf(*static_cast<QKeyEvent*>(event)));
    if (!b) return false;
    if (event->type() == QEvent::ShortcutOverride) {
      event->accept();
      return true;
    }
    if (QAction* a = Offered(*b)) a->trigger();
    return true;
  }

 private:
  const TKeyBinding* Find(const QKeySequence& key) const {
    for (const TKeyBinding& b : KeyBindings())
      if (b.scope == scope_ && b.keys.contains(key)) return &b;
    return nullptr;
  }
  // The first of the binding's actions that the popup offers for the
  // selected node; none without a selected node.
  QAction* Offered(const TKeyBinding& b) {
    if (!tree_.currentItem()) return nullptr;
    if (scope_ == ksWorkspace)
      form_.PopupPopup();
    else
      form_.pop_browsePopup();
    for (QAction* TMainForm::*member : b.actions) {
      QAction* a = form_.*member;
      if (a && a->isVisible() && a->isEnabled()) return a;
    }
    return nullptr;
  }

  TMainForm& form_;
  QTreeWidget& tree_;
  TKeyScope scope_;
};

}  // namespace

const QList<TKeyBinding>& KeyBindings() {
  using F = TMainForm;
  static const QList<TKeyBinding> table = {
      {ksWindow,
       {QKeySequence(Qt::Key_F5)},
       {&F::mnu_actions_run},
       {&F::run_profile},
       {&F::tb_run}},
      {ksWindow,
       {QKeySequence(Qt::CTRL | Qt::Key_E)},
       {&F::mnu_action_report},
       {},
       {&F::tb_export}},
      {ksWindow, Standard(QKeySequence::Copy), {&F::copy_results}, {}, {}},
      {ksWindow,
       Standard(QKeySequence::Find, QKeySequence(Qt::CTRL | Qt::Key_F)),
       {&F::find_results},
       {},
       {}},
      // Shown and enabled only while a search runs (app/runstop.h).
      {ksWindow,
       {QKeySequence(Qt::Key_Escape)},
       {&F::mnu_actions_stop},
       {},
       {&F::mnu_actions_stop}},
      {ksWindow,
       Standard(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)),
       {&F::mnu_file_exit},
       {},
       {&F::tb_exit}},
      {ksWindow,
       Standard(QKeySequence::HelpContents, QKeySequence(Qt::Key_F1)),
       {&F::mnu_help_file},
       {},
       {}},
      {ksWorkspace,
       PropertiesKeys(),
       {&F::e_server, &F::e_profile},
       {&F::mnu_edit_object},
       {&F::tb_edit}},
      {ksWorkspace,
       Standard(QKeySequence::Delete, QKeySequence(Qt::Key_Delete)),
       {&F::d_server, &F::d_profile},
       {},
       {}},
      {ksBrowse, {QKeySequence(Qt::Key_F5)}, {&F::o_browse}, {}, {}},
      {ksBrowse, PropertiesKeys(), {&F::o_properties}, {}, {}},
  };
  return table;
}

QString WithKeyText(const QString& caption, const QKeySequence& key) {
  if (key.isEmpty()) return caption;
  return caption + " (" + key.toString(QKeySequence::NativeText) + ")";
}

QString WithoutMnemonic(const QString& caption) {
  QString out;
  out.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

void InstallKeyBindings(TMainForm& form) {
  for (const TKeyBinding& b : KeyBindings()) {
    const QKeySequence shown = b.keys.value(0);
    // A window binding's action is live; every other entry only shows the
    // keys (a widget shortcut of a popup entry never fires by itself).
    for (QAction* TMainForm::*member : b.actions) {
      QAction* a = form.*member;
      a->setShortcuts(b.keys);
      a->setShortcutContext(b.scope == ksWindow ? Qt::WindowShortcut : Qt::WidgetShortcut);
    }
    for (QAction* TMainForm::*member : b.shownOn) {
      QAction* a = form.*member;
      a->setShortcuts(b.keys);
      a->setShortcutContext(Qt::WidgetShortcut);
    }
    for (QAction* TMainForm::*member : b.toolButtons) {
      QAction* a = form.*member;
      a->setToolTip(WithKeyText(a->toolTip(), shown));
    }
  }
  new TTreeKeys(form, *form.tv_workspace, ksWorkspace);
  new TTreeKeys(form, *form.tv_browse, ksBrowse);
}

}  // namespace quorvel
