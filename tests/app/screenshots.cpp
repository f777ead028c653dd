// Writes PNG pictures of the windows for review: the main window after a run,
// the two property dialogs, the browse tab after two levels, an entry's
// properties, the About box and the two certificate questions. Drives the real
// windows against a running private slapd: offscreen by default, or on the
// display in DISPLAY with QT_QPA_PLATFORM=xcb (scripts/screenshots.sh runs it
// under a window manager that way).
//
//   quorvel-screenshots BUILD_DIR SOURCE_DIR SLAPD_DIR OUT_DIR
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QLabel>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTabWidget>
#include <cstdio>

#include "app/apptool.h"
#include "app/mainform.h"
#include "app/splash.h"
#include "common/slapd_env.h"
#include "dialogs/trustform.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "dialogs/testseam.h"
#include "store/data.h"

namespace {

// The window as the desktop shows it. On a display with a window manager
// (xcb) the picture is taken from the screen, with the manager's frame and
// whatever stacks above the window; offscreen, the window renders itself.
QPixmap Picture(QWidget& w) {
  QApplication::processEvents();
  if (QGuiApplication::platformName() != "xcb") return w.grab();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 3000 && !(w.windowHandle() && w.windowHandle()->isExposed()))
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  // Mapped; a moment more to be framed by the window manager and painted.
  const qint64 exposed = t.elapsed();
  while (t.elapsed() < exposed + 400 ||
         (w.frameGeometry() == w.geometry() && t.elapsed() < exposed + 2000))
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  const QRect f = w.frameGeometry();
  return w.screen()->grabWindow(0, f.x(), f.y(), f.width(), f.height());
}

bool Save(QWidget& w, const QString& out, const char* name) {
  const QString path = out + "/" + name + ".png";
  const bool ok = Picture(w).save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toStdString().c_str());
  return ok;
}

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& caption) {
  for (int i = 0; parent && i < parent->childCount(); ++i)
    if (parent->child(i)->text(0) == caption) return parent->child(i);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s BUILD_DIR SOURCE_DIR SLAPD_DIR OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string build = argv[1], source = argv[2];
  const QString out = argv[4];
  QDir().mkpath(out);
  const quorvel::test::SlapdEnv env = quorvel::test::ReadSlapdEnv(argv[3]);
  if (!env.ok) {
    std::fprintf(stderr, "no slapd: %s\n", env.error.c_str());
    return 1;
  }
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() + "/";
  const std::string err = quorvel::tool::PrepareProgramFolder(build, source, folder, [&](Tdata& d) {
    const std::string people = "ou=people," + env.base;
    int id = d.AddServer("Test directory", env.host, std::to_string(env.port), "N", env.adminDn,
                         env.adminPw, env.base);
    d.AddProfile("People with mail", std::to_string(id), people, "2",
                 "(&(objectClass=inetOrgPerson)(mail=*))", "cn;givenname;sn;mail;telephoneNumber");
    d.AddProfile("Administrators", std::to_string(id), "cn=admins,ou=groups," + env.base, "0",
                 "(objectClass=*)", "cn;member");
  });
  if (!err.empty()) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }

  quorvel::SetPausesEnabled(false);
  quorvel::SetProgramFolder(folder);
  quorvel::test::TTestSeam seam;
  Tdata module;
  data = &module;
  bool ok = true;
  {
    TMainForm form;
    form.show();
    QApplication::processEvents();
    QTreeWidgetItem* server = Child(form.tv_workspace->topLevelItem(0), "Test directory");
    form.tv_workspace->setCurrentItem(Child(server, "People with mail"));
    form.tv_workspaceMouseUp();
    form.run_profileClick();
    form.FlushPane();
    ok &= Save(form, out, "main-after-run");

    form.tv_workspace->setCurrentItem(server);
    seam.dialogs.push_back([&](QDialog& d) {
      d.show();
      ok &= Save(d, out, "server-dialog");
      d.reject();
    });
    form.e_serverClick();
    form.tv_workspace->setCurrentItem(Child(server, "People with mail"));
    seam.dialogs.push_back([&](QDialog& d) {
      d.show();
      ok &= Save(d, out, "profile-dialog");
      d.reject();
    });
    form.e_profileClick();

    form.tabs->setCurrentIndex(1);
    QTreeWidgetItem* bserver = form.FindBrowseServerNode("Test directory");
    form.tv_browse->setCurrentItem(bserver);
    form.o_browseClick();
    QTreeWidgetItem* tree = Child(bserver, QString::fromStdString("ou=tree," + env.base));
    form.tv_browse->setCurrentItem(tree);
    form.o_browseClick();
    QTreeWidgetItem* people = Child(bserver, QString::fromStdString("ou=people," + env.base));
    form.tv_browse->setCurrentItem(people);
    form.o_browseClick();
    form.tv_browse->setCurrentItem(
        Child(people, QString::fromStdString("uid=tuser,ou=people," + env.base)));
    form.o_propertiesClick();
    form.tv_browse->setCurrentItem(tree);
    form.tv_browse->scrollToItem(tree);
    form.FlushPane();
    ok &= Save(form, out, "browse-and-properties");

    TSplashForm about(&form);
    about.notice->setVisible(true);
    about.show();
    ok &= Save(about, out, "about");
    form.hide();
  }
  {
    // The certificate questions, with the private server's real certificate
    // (its authority is unknown here).
    TLDAPSend ldap;
    ldap.TargetHost = env.host;
    ldap.TargetPort = std::to_string(env.ldapsPort);
    ldap.FullSSL = true;
    ldap.CertificateCheck = std::make_shared<TAcceptAnyCertificate>();
    ldap.Connect();
    TTrustQuestion q;
    q.cert = ldap.Sock()->SSL()->PeerCertificate();
    q.server = env.host + ":" + std::to_string(env.ldapsPort);
    TTrustForm unknown(q);
    unknown.show();
    ok &= Save(unknown, out, "certificate-question");
    q.remembered =
        "3F:08:A1:77:C2:5B:90:1E:6D:44:F0:2A:B9:13:C8:5E:07:D2:6A:91:E4:38:5C:0B:7F:"
        "A6:21:9D:E0:43:B8:16";
    TTrustForm changed(q);
    changed.show();
    ok &= Save(changed, out, "certificate-changed");
  }
  data = nullptr;
  return ok ? 0 : 1;
}
