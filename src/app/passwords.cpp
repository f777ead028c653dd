// The main window's side of bind passwords kept out of the catalogue: asking
// for a password when connecting (remembered in memory until the program
// exits when the user says so), the Server menu's "Move Passwords to the
// Keyring", and the start-up line that offers it.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>
#include <functional>

#include "app/mainform.h"
#include "app/nodeutil.h"
#include "dialogs/busywork.h"
#include "dialogs/passwordform.h"
#include "net/keyring.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/secrets.h"

using namespace quorvel;

namespace {

// Every node record of a tree, its entries' copies included.
void ForEachServerRecord(QTreeWidgetItem* item, const std::function<void(TServerNodeData&)>& f) {
  if (!item) return;
  if (TNodeData* d = NodeData(item); d && d->server) f(*d->server);
  for (int i = 0; i < item->childCount(); ++i) ForEachServerRecord(item->child(i), f);
}

std::string Passwords(int n) {
  return std::to_string(n) + (n == 1 ? " password" : " passwords");
}

}  // namespace

void TMainForm::BuildServerMenu() {
  QMenu* server = menuBar()->addMenu("&Server");
  mnu_server_move = server->addAction("&Move Passwords to the Keyring");
  mnu_server_move->setObjectName("mnu_server_move");
  connect(mnu_server_move, &QAction::triggered, this, [this] { mnu_server_moveClick(); });
}

bool TMainForm::GivePassword(TServerNodeData& record, const std::string& name,
                             const std::string& command) {
  if (!NeedsPassword(record) || record.secret != kSecretAsk) return true;
  const keyring::TKey key = KeyringKey(record);
  if (passwords_.Recall(key, record.pwd)) return true;
  bool remember = false;
  if (AskPassword(this, name, record, record.pwd, &remember) && !record.pwd.empty()) {
    if (remember) passwords_.Remember(key, record.pwd);
    return true;
  }
  keyring::Wipe(record.pwd);
  AddMessage(1, "MSG: " + command + " cancelled: no password was given for \"" + record.uid +
                    "\" on " + record.server + ", so nothing was sent.");
  FlushPane();
  return false;
}

void TMainForm::ForgetGivenPassword(const TServerNodeData& record) {
  if (record.secret == kSecretAsk) passwords_.Forget(KeyringKey(record));
}

void TMainForm::TellAboutCataloguePasswords() {
  if (!::data) return;
  const int n = CataloguePasswordCount(*::data);
  if (n == 0 || keyring::Probe() != keyring::TStatus::Ok) return;
  AddMessage(1, "MSG: " + std::to_string(n) +
                    (n == 1 ? " server keeps its" : " servers keep their") +
                    " password in the catalogue in clear text: Server, Move Passwords to the "
                    "Keyring stores them in the desktop keyring.");
}

void TMainForm::mnu_server_moveClick() {
  if (!::data) return;
  const int n = CataloguePasswordCount(*::data);
  if (n == 0) {
    LogInfo("No server keeps its password in the catalogue: there is nothing to move.");
    return;
  }
  if (!Confirm("Move " + Passwords(n) +
               " from the catalogue to the desktop keyring? The catalogue is then rewritten "
               "so that none of them stays in the file."))
    return;
  AddMessage(0, "MSG: Moving " + Passwords(n) + " to the desktop keyring...");
  TMoveOutcome out;
  RunBusy([&] { out = MovePasswordsToKeyring(*::data); });
  // The windows' records follow the catalogue.
  for (QTreeWidget* tree : {tv_workspace, tv_browse})
    ForEachServerRecord(tree->topLevelItem(0), [&](TServerNodeData& s) {
      for (int id : out.ids)
        if (s.id == id) {
          s.secret = kSecretKeyring;
          keyring::Wipe(s.pwd);
        }
    });
  if (out.failed > 0)
    LogError(Passwords(out.failed) +
             " could not be stored in the desktop keyring and stay in "
             "the catalogue (" +
             out.error + ").");
  else if (!out.rewritten)
    LogError(
        "The catalogue could not be rewritten, so the old passwords' bytes may remain in "
        "it (" +
        out.error + ").");
  if (out.moved > 0)
    LogInfo("Moved " + Passwords(out.moved) + " to the desktop keyring" +
            (out.rewritten ? "; the catalogue keeps none of them any more." : "."));
  FlushPane();
}
