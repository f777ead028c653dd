// The workspace commands that add, edit and delete servers and profiles. Each
// keeps both trees in step with the catalogue without reloading them.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/icons.h"
#include "app/mainform.h"
#include "app/nodeutil.h"
#include "dialogs/profileform.h"
#include "dialogs/serverform.h"
#include "dialogs/uiseam.h"
#include "net/keyring.h"
#include "store/changes.h"
#include "store/data.h"
#include "store/filelocations.h"
#include "store/secrets.h"
#include "store/shared.h"
#include "store/trust.h"

using namespace quorvel;

namespace {

std::string Text(const QLineEdit* e) {
  return e->text().toStdString();
}
std::string Text(const QPlainTextEdit* e) {
  return e->toPlainText().toStdString();
}

// The server record as the dialog holds it; nullopt when the port is not a number.
std::optional<TServerNodeData> ReadServerDialog(const TServerForm& f) {
  auto port = PortFromText(Text(f.ed_port));
  if (!port) return std::nullopt;
  TServerNodeData s;
  s.server = Trim32(Text(f.ed_server));
  s.port = *port;
  s.ssl = f.Security();
  s.auth = f.Auth();
  s.secret = f.Secret();
  s.referrals = f.Referrals();
  // A Kerberos server keeps no DN and no password.
  if (s.auth != "kerberos") {
    s.uid = Trim32(Text(f.ed_uid));
    s.pwd = Trim32(Text(f.ed_pwd));
  }
  s.basedn = Trim32(Text(f.ed_basedn));
  return s;
}

TProfileNodeData ReadProfileDialog(const TProfileForm& f, int serverid) {
  TProfileNodeData p;
  p.serverid = serverid;
  p.basedn = Trim32(Text(f.ed_base));
  p.scope = TextToScope(Trim32(f.cb_scope->currentText().toStdString()));
  p.filter = Trim32(Text(f.ed_filter));
  p.att = Trim32(Text(f.ed_att));
  p.readable = f.ed_readable->isChecked();
  return p;
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// After a server is stored: its keyring item follows it (stored from the
// password typed, moved with the host, port or bind DN, deleted when no
// longer used). Should the keyring refuse, the server asks for its password
// when connecting, and the catalogue says so. The records keep no password
// that is not the catalogue's.
void KeepPassword(const TServerNodeData* before, TServerNodeData& s, const std::string& name,
                  int id) {
  std::string typed = s.pwd;
  if (s.secret != kSecretCatalogue) keyring::Wipe(s.pwd);
  if (!::data || id <= 0) return keyring::Wipe(typed);
  std::string why;
  const bool kept = SyncKeyringItem(*::data, before, s, id, typed, &why);
  keyring::Wipe(typed);
  if (kept) return;
  s.secret = kSecretAsk;
  ::data->UpdateServer(std::to_string(id), name, s.server, std::to_string(s.port), s.ssl, s.uid, "",
                       s.basedn, s.auth, s.secret);
  LogError("The password of \"" + s.uid + "\" on " + ServerAddress(s.server, s.port) +
           " could not be stored in the desktop keyring (" + why +
           "); the server now asks for its password when connecting. Unlock or start the "
           "keyring, then set the password again in the server's properties.");
}

// A server moved out of the keyring into the catalogue with its password
// field left empty takes the keyring's password along: the keyring item goes
// once the server is stored, and the password with it. When the keyring
// cannot give it, nothing is stored and the user is told what to do.
bool CarryKeyringPassword(const TServerNodeData& before, TServerNodeData& s) {
  if (!NeedsPassword(before) || before.secret != kSecretKeyring) return true;
  if (s.secret != kSecretCatalogue || !s.pwd.empty() || s.auth == "kerberos" || s.uid.empty())
    return true;
  TServerNodeData old = before;
  std::string why;
  if (!ReadKeyringPassword(
          old, &why,
          "Type the password to keep it in the catalogue, or keep it in the desktop keyring.")) {
    LogError("The server's properties were not saved: " + why);
    return false;
  }
  s.pwd.swap(old.pwd);
  return true;
}

// What the dialog's Test was told to trust becomes the server's trusted
// certificate once the server is stored, if it was presented at the host and
// port stored; a certificate seen at another host or port is not kept.
void KeepTestedTrust(const TServerForm& f, int id, const TServerNodeData& s) {
  const std::optional<TPeerCertificate> cert = f.TestedTrust();
  if (!cert || !::data || id <= 0) return;
  std::string reason;
  if (!quorvel::KeepTestedTrust(*::data, id, *cert, s.server, s.port, &reason) && !reason.empty())
    LogError("The certificate trusted in the test of \"" + ServerAddress(s.server, s.port) +
             "\" could not be remembered (" + reason + "); the question will come again.");
}

}  // namespace

void TMainForm::mnu_edit_objectClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!sel || !sel->parent() || !d) {
    LogInfo("Please select a Server or Profile to edit from the Workspace.");
    return;
  }
  if (d->kind == 0) e_serverClick();
  if (d->kind == 1) e_profileClick();
}

void TMainForm::mnu_actions_testClick() {
  TNodeData* d = NodeData(tv_workspace->currentItem());
  if (d && d->kind == 0) {
    e_serverClick();
    return;
  }
  LogInfo("Please select a Server to test from the Workspace.");
}

void TMainForm::a_serverClick() {
  TServerForm dlg(this);
  dlg.Tag = 0;
  dlg.ed_server->setText("127.0.0.1");
  dlg.ed_port->setText("389");
  dlg.ed_basedn->setText("O=Organization");
  dlg.SetSecurity("N");
  dlg.SetSecret(DefaultSecret());
  dlg.TrustCatalogue = ::data;
  UiSeam().ExecDialog(dlg);
  if (dlg.Cancelled) return;

  auto record = ReadServerDialog(dlg);
  if (!record) return;  // nothing is stored for a port that is not a number
  auto node = std::make_unique<TNodeData>();
  node->kind = 0;
  node->name = Text(dlg.ed_name);  // kept as typed, blanks included
  node->server = std::make_unique<TServerNodeData>(*record);
  const TServerNodeData& s = *record;
  node->id = ::data ? ::data->AddServer(node->name, s.server, std::to_string(s.port), s.ssl, s.uid,
                                        s.pwd, s.basedn, s.auth, s.secret)
                    : 0;
  if (node->id != 0 && !::data->SetServerReferrals(std::to_string(node->id), s.referrals)) {
    LogError("The Referrals setting of the server " + node->name +
             " could not be stored: it reports them.");
    node->server->referrals = record->referrals = "report";
  }
  record->id = node->id;
  KeepPassword(nullptr, *record, node->name, node->id);
  *node->server = *record;
  const QString caption = Q(node->name);
  const std::string name = node->name;
  if (node->id != 0) {
    KeepTestedTrust(dlg, node->id, *record);
    LogInfo("New server: " + name + " sucessfully added...");
    auto* item = new TNodeItem(tv_workspace->topLevelItem(0), caption, std::move(node));
    item->setIcon(0, ImageListIcon(imgServer, imgServerSelected));
    tv_workspace->viewport()->repaint();
  } else {
    LogError("Error encountered adding the Server: " + name + " to database!");
  }
  // The browse tree gets its own record, read from the dialog again.
  auto browse = std::make_unique<TNodeData>();
  browse->kind = 0;
  browse->name = name;
  browse->server = std::make_unique<TServerNodeData>(*record);
  auto* bnode = new TNodeItem(tv_browse->topLevelItem(0), caption, std::move(browse));
  bnode->setIcon(0, ImageListIcon(imgServer, imgBlank));
  tv_browse->viewport()->repaint();
}

void TMainForm::e_serverClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!sel || !d || !d->server) return;
  TServerForm dlg(this);
  dlg.setWindowTitle(Q("Server Properties: " + d->name));
  // The security choice first: it rewrites the port, which is set after it.
  dlg.SetSecurity(d->server->ssl);
  dlg.SetAuth(d->server->auth);
  dlg.SetSecret(d->server->secret);
  if (d->server->secret == kSecretKeyring)
    dlg.ed_pwd->setPlaceholderText("Kept in the desktop keyring; type to replace it");
  dlg.SetReferrals(d->server->referrals);
  dlg.ed_name->setText(Q(d->name));
  dlg.Tag = d->id;
  dlg.ed_server->setText(Q(d->server->server));
  dlg.ed_port->setText(QString::number(d->server->port));
  dlg.ed_uid->setText(Q(d->server->uid));
  dlg.ed_pwd->setText(Q(d->server->pwd));
  dlg.ed_basedn->setText(Q(d->server->basedn));
  dlg.TrustCatalogue = ::data;
  UiSeam().ExecDialog(dlg);
  if (dlg.Cancelled || !dlg.Saved) return;

  // A port that is not a number ends the command before anything changes.
  auto record = ReadServerDialog(dlg);
  if (!record) return;
  record->id = d->id;
  const TServerNodeData before = *d->server;
  if (!CarryKeyringPassword(before, *record)) return;
  d->name = Trim32(Text(dlg.ed_name));
  const bool ok = ::data &&
                  ::data->UpdateServer(std::to_string(d->id), d->name, record->server,
                                       std::to_string(record->port), record->ssl, record->uid,
                                       record->pwd, record->basedn, record->auth, record->secret) &&
                  ::data->SetServerReferrals(std::to_string(d->id), record->referrals);
  if (ok) {
    ForgetGivenPassword(before);
    KeepPassword(&before, *record, d->name, d->id);
  } else if (record->secret != kSecretCatalogue) {
    keyring::Wipe(record->pwd);
  }
  *d->server = *record;
  const TServerNodeData& s = *d->server;
  if (ok) {
    KeepTestedTrust(dlg, d->id, s);
    LogInfo("Server Properties: " + d->name + " updated sucessfully...");
    sel->setText(0, Q(d->name));
    if (TNodeData* b = NodeData(FindBrowseServerNode(Q(d->name))); b && b->server) {
      b->name = d->name;
      *b->server = *record;
    }
  } else {
    LogError("Error encountered saving Server Properties: " + d->name + "!");
  }
}

// A deleted profile's last run goes from the history file too.
void TMainForm::ForgetProfileSnapshots(const std::vector<int>& profiles) {
  std::string error;
  if (::data && !ForgetSnapshots(::data->temp, HistoryFile(Files.catalogue), profiles, error))
    AddMessage(1, "MSG: " + error);
}

void TMainForm::d_serverClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!sel || !d) return;
  if (!ConfirmDelete("Are you sure that you want to delete the server profile \"" +
                     sel->text(0).toStdString() + "\"?"))
    return;
  const QString caption = sel->text(0);
  QList<QTreeWidgetItem*> children;
  for (int i = 0; i < sel->childCount(); ++i) children.append(sel->child(i));
  std::vector<int> gone;
  for (QTreeWidgetItem* child : children) {
    TNodeData* p = NodeData(child);
    if (p && ::data && ::data->DeleteProfile(std::to_string(p->id))) {
      gone.push_back(p->id);
      delete child;
    }
  }
  ForgetProfileSnapshots(gone);
  const TServerNodeData record = d->server ? *d->server : TServerNodeData{};
  const int id = d->id;
  if (::data && ::data->DeleteServer(std::to_string(id))) {
    delete sel;
    ForgetKeyringItem(*::data, record, id);
  }
  if (QTreeWidgetItem* b = FindBrowseServerNode(caption)) delete b;
  tv_workspace->viewport()->repaint();
}

void TMainForm::n_profileClick() {
  QTreeWidgetItem* server = tv_workspace->currentItem();
  TNodeData* sd = NodeData(server);
  // "Add Profile" stays enabled while the keyboard moves the selection; a
  // profile is only ever added below a server node, never below another
  // profile (whose id would be stored as the server id) or the root.
  if (!server || !sd || sd->kind != 0) return;
  {
    TProfileForm dlg(this);
    dlg.Tag = 0;
    dlg.ed_server->setText(server->text(0));
    dlg.ed_base->setText("O=Organization");
    dlg.ed_filter->setText("(ObjectClass=*)");
    dlg.btnrun->setEnabled(false);
    ProvideSchema(dlg, *sd);
    UiSeam().ExecDialog(dlg);
    if (!dlg.Cancelled) {
      auto node = std::make_unique<TNodeData>();
      node->kind = 1;
      node->name = Trim32(Text(dlg.ed_name));
      node->profile = std::make_unique<TProfileNodeData>(ReadProfileDialog(dlg, sd->id));
      const TProfileNodeData& p = *node->profile;
      node->id = ::data ? ::data->AddProfile(node->name, std::to_string(p.serverid), p.basedn,
                                             std::to_string(p.scope), p.filter, p.att,
                                             p.readable ? "1" : "0")
                        : 0;
      const std::string name = node->name;
      if (node->id != 0) {
        LogInfo("New profile: " + name + " sucessfully added...");
        auto* item = new TNodeItem(server, Q(name), std::move(node));
        item->setIcon(0, ImageListIcon(imgProfile, imgProfileSelected));
      } else {
        LogError("Error encountered adding the profile: " + name + " to database!");
      }
    }
  }
  server->setExpanded(true);
}

void TMainForm::e_profileClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!sel || !d || !d->profile || !sel->parent()) return;
  TNodeData* sd = NodeData(sel->parent());
  TProfileForm dlg(this);
  dlg.ed_server->setText(sel->parent()->text(0));
  dlg.ed_name->setText(Q(d->name));
  dlg.Tag = d->id;
  dlg.ed_base->setText(Q(d->profile->basedn));
  dlg.ed_att->setPlainText(Q(d->profile->att));
  dlg.btnrun->setEnabled(false);
  dlg.cb_scope->setEditText(Q(ScopeToText(d->profile->scope)));
  dlg.ed_filter->setText(Q(d->profile->filter));
  dlg.ed_readable->setChecked(d->profile->readable);
  if (sd) ProvideSchema(dlg, *sd);
  UiSeam().ExecDialog(dlg);
  if (dlg.Cancelled || !dlg.Saved) return;

  d->name = Trim32(Text(dlg.ed_name));
  *d->profile = ReadProfileDialog(dlg, sd ? sd->id : d->profile->serverid);
  const TProfileNodeData& p = *d->profile;
  const bool ok =
      ::data &&
      ::data->UpdateProfile(std::to_string(d->id), d->name, std::to_string(p.serverid), p.basedn,
                            std::to_string(p.scope), p.filter, p.att, p.readable ? "1" : "0");
  if (ok) {
    LogInfo("Search Profile Properties: " + d->name + " updated sucessfully...");
    sel->setText(0, Q(d->name));
  } else {
    LogError("Error encountered saving Search Profile Properties: " + d->name + "!");
  }
}

void TMainForm::d_profileClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!sel || !d) return;
  if (!ConfirmDelete("Are you sure that you want to delete the export profile \"" +
                     sel->text(0).toStdString() + "\"?"))
    return;
  const int id = d->id;
  if (::data && ::data->DeleteProfile(std::to_string(id))) {
    delete sel;
    ForgetProfileSnapshots({id});
  }
  tv_workspace->viewport()->repaint();
}
