// The main window's keyboard: every shortcut in one table, where each works,
// and the menu entries and tool buttons that show it.
//
// A binding's keys work in one of three scopes. Window keys (F5, Ctrl+E, the
// desktop's Copy, Quit and Help keys) trigger their action from anywhere in
// the main window, and the action's menu entry shows the first key. Tree keys
// (Enter and F2 for properties, Delete, F5 on the browse tree) act only while
// that tree has the focus, so they never take Enter from a dialog or the
// grid: the tree claims them before any window shortcut sees them, and they
// trigger the first of the binding's actions that the tree's popup menu would
// offer for the selected node (nothing, when it offers none of them).
//
// Menu entries and popup entries show their keys; an icon-only tool button's
// tool tip names its action and key: "Run Report (F5)".
//
// Typical use, once the window's actions exist:
//   quorvel::InstallKeyBindings(*this);
// A new command's keys are one more line of the table in keyboard.cpp.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QAction;
class TMainForm;

namespace quorvel {

enum TKeyScope {
  ksWindow,     // anywhere in the main window
  ksWorkspace,  // only while the workspace tree has the focus
  ksBrowse,     // only while the browse tree has the focus
};

struct TKeyBinding {
  TKeyScope scope;
  // The keys; the first is the one menus and tool tips show.
  QList<QKeySequence> keys;
  // What the keys trigger: a window binding's one action, or the popup entries
  // a tree binding chooses from.
  QList<QAction * TMainForm::*> actions;
  // Menu and popup entries that show the keys without being triggered by them.
  QList<QAction * TMainForm::*> shownOn;
  // Tool buttons whose tool tip names the first key.
  QList<QAction * TMainForm::*> toolButtons;
};

// Every shortcut of the main window.
const QList<TKeyBinding>& KeyBindings();

// Gives the actions their keys and the tool buttons their tool tips and
// accessible names, and makes the trees take their own keys.
void InstallKeyBindings(TMainForm& form);

// "Run Report (F5)" for the caption "Run Report" and F5; the caption alone
// when there is no key.
QString WithKeyText(const QString& caption, const QKeySequence& key);

// A caption without its mnemonic marker: "E&xit" -> "Exit", "&&" -> "&".
QString WithoutMnemonic(const QString& caption);

}  // namespace quorvel
