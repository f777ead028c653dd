// The certificate question window: what it says, which answer each key and
// button gives (Cancel unless a trust button is pressed), and that a question
// asked from a worker thread is shown on the GUI thread and answered. Text
// from a certificate or a server is shown as it is, never as mark-up.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include <QCheckBox>
#include <QLineEdit>

#include "common/tls_peer.h"
#include "dialogs/plaintext.h"
#include "dialogs/serverform.h"
#include "dialogs/testseam.h"
#include "dialogs/trustform.h"
#include "ldap/recording_sink.h"
#include "ldap/session.h"
#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/testcatalogue.h"
#include "store/trust.h"

namespace {

TTrustQuestion Question(bool changed, bool canRemember = true) {
  TTrustQuestion q;
  q.server = "ldap1.example:636";
  q.cert.subject = "/O=Example/CN=ldap1.example";
  q.cert.issuer = q.cert.subject;
  q.cert.notBefore = "2026-01-01 00:00:00 UTC";
  q.cert.notAfter = "2036-01-01 00:00:00 UTC";
  q.cert.names = "DNS:ldap1.example, IP Address:10.0.0.1";
  q.cert.fingerprint = "AB:CD:EF";
  q.cert.reason = "self-signed";
  if (changed) q.remembered = "01:02:03";
  q.canRemember = canRemember;
  return q;
}

TTrustForm& Form(QDialog& d) {
  return dynamic_cast<TTrustForm&>(d);
}

// What a label, a message box or a tool tip shows of text in format: the text
// itself when plain; when rich (or guessed rich, as Qt::AutoText does), the
// plain text of the document Qt makes of it.
QString Shown(Qt::TextFormat format, const QString& text) {
  if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
    return text;
  QTextDocument doc;
  doc.setHtml(text);
  return doc.toPlainText();
}

// The SHA-256 fingerprint of a PEM file as the openssl command prints it.
std::string OpensslFingerprint(const std::string& pem) {
  std::string out;
  if (FILE* p =
          popen(("openssl x509 -noout -fingerprint -sha256 -in '" + pem + "'").c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  const auto eq = out.find('=');
  return eq == std::string::npos ? "" : out.substr(eq + 1, 95);
}

}  // namespace

TEST(TrustForm, EveryWayOutButTheTwoTrustButtonsCancels) {
  quorvel::test::TTestSeam seam;
  TDialogTrustPrompt prompt;
  struct Case {
    const char* what;
    std::function<void(TTrustForm&)> act;
    TTrustAnswer answer;
  } cases[] = {
      {"no action (closed)", [](TTrustForm& f) { f.close(); }, taCancel},
      {"Enter", [](TTrustForm& f) { QTest::keyClick(&f, Qt::Key_Return); }, taCancel},
      {"Enter with the focus on Trust",
       [](TTrustForm& f) {
         f.btntrust->setFocus();
         QTest::keyClick(f.btntrust, Qt::Key_Return);
       },
       taCancel},
      {"Escape", [](TTrustForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }, taCancel},
      {"Cancel", [](TTrustForm& f) { f.btncancel->click(); }, taCancel},
      {"Connect this time only", [](TTrustForm& f) { f.btnonce->click(); }, taOnce},
      {"Trust and connect", [](TTrustForm& f) { f.btntrust->click(); }, taTrust},
  };
  for (const Case& c : cases) {
    seam.dialogs.push_back([&c](QDialog& d) {
      d.show();
      QApplication::processEvents();
      c.act(Form(d));
    });
    EXPECT_EQ(prompt.Ask(Question(false)), c.answer) << c.what;
  }
  EXPECT_EQ(seam.dialogsShown, 7);
}

TEST(TrustForm, SaysWhatIsAtStake) {
  TTrustForm unknown(Question(false));
  EXPECT_EQ(unknown.windowTitle(), "Certificate not trusted");
  const QString u = unknown.lbl_text->text();
  for (const char* part : {"ldap1.example:636", "could not be verified: self-signed",
                           "/O=Example/CN=ldap1.example", "2036-01-01 00:00:00 UTC", "AB:CD:EF",
                           "Issued for: DNS:ldap1.example, IP Address:10.0.0.1"})
    EXPECT_TRUE(u.contains(part)) << part << "\n" << u.toStdString();
  EXPECT_TRUE(unknown.btncancel->isDefault());
  EXPECT_TRUE(unknown.btntrust->isEnabled());

  TTrustForm changed(Question(true));
  EXPECT_EQ(changed.windowTitle(), "Certificate changed");
  const QString c = changed.lbl_text->text();
  for (const char* part : {"has changed since you trusted it", "intercepting", "01:02:03",
                           "AB:CD:EF", "Reason: self-signed"})
    EXPECT_TRUE(c.contains(part)) << part << "\n" << c.toStdString();
  EXPECT_TRUE(changed.btncancel->isDefault());

  TTrustQuestion q = Question(false);
  q.expired = true;
  q.cert.notAfter = "2021-01-01 00:00:00 UTC";
  q.cert.reason = "expired on 2021-01-01 00:00:00 UTC";
  TTrustForm expired(q);
  EXPECT_EQ(expired.windowTitle(), "Certificate expired");
  const QString e = expired.lbl_text->text();
  for (const char* part : {"you trusted for the server ldap1.example:636 has expired",
                           "valid until 2021-01-01 00:00:00 UTC", "Trust it again only if",
                           "SHA-256 fingerprint:\nAB:CD:EF"})
    EXPECT_TRUE(e.contains(part)) << part << "\n" << e.toStdString();
  EXPECT_TRUE(expired.btncancel->isDefault());

  TTrustForm unsaved(Question(false, false));
  EXPECT_FALSE(unsaved.btntrust->isEnabled());
  EXPECT_TRUE(unsaved.btnonce->isEnabled());
}

TEST(TrustForm, AQuestionFromAWorkerThreadIsShownOnTheGuiThread) {
  quorvel::test::TTestSeam seam;
  TDialogTrustPrompt prompt;
  bool onGuiThread = false;
  seam.dialogs.push_back([&](QDialog& d) {
    onGuiThread = QThread::currentThread() == qApp->thread();
    Form(d).btntrust->click();
  });
  std::atomic<bool> done{false};
  TTrustAnswer answer = taCancel;
  std::thread worker([&] {
    answer = prompt.Ask(Question(false));
    done = true;
  });
  QElapsedTimer t;
  t.start();
  while (!done && t.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  worker.join();
  EXPECT_TRUE(onGuiThread);
  EXPECT_EQ(answer, taTrust);
}

// The issuer of a certificate is whatever its maker wrote: here an OU of
// "<br>SHA-256 fingerprint:<br>11:22:33:44<!--", which as rich text would
// draw a forged fingerprint and hide the rest of the window in a comment.
TEST(TrustForm, ACertificatesMarkupIsShownAsText) {
  const std::string certs = quorvel::test::TestCertificates();
  ASSERT_FALSE(certs.empty());
  const std::string real = OpensslFingerprint(certs + "/markup.pem");
  ASSERT_EQ(real.size(), 95u);
  quorvel::test::TlsPeer peer(certs + "/markup.pem", certs + "/markup.key");
  ASSERT_TRUE(peer.Start()) << peer.Error();

  quorvel::test::TTestSeam seam;
  TDialogTrustPrompt dialogPrompt;
  QString shown;
  seam.dialogs.push_back([&](QDialog& d) {
    const QLabel* l = Form(d).lbl_text;
    shown = Shown(l->textFormat(), l->text());
  });
  TLDAPSend ldap;
  ldap.TargetHost = "127.0.0.1";
  ldap.TargetPort = std::to_string(peer.Port());
  ldap.FullSSL = true;
  quorvel::RequireTrust(ldap, {nullptr, &dialogPrompt}, 0);
  EXPECT_FALSE(ldap.Connect());  // the question was cancelled

  ASSERT_EQ(seam.dialogsShown, 1);
  EXPECT_TRUE(shown.contains(QString::fromStdString("SHA-256 fingerprint:\n" + real)))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains("<br>SHA-256 fingerprint:<br>11:22:33:44<!--")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("Connect only if you know")) << shown.toStdString();
}

TEST(PlainText, BoxesAndToolTipsShowMarkupLiterally) {
  const QString hostile[] = {
      "<b>bold</b> and <i>italic</i>",
      "ErrorDesc: <br>Connection successful<!-- the real error",
      "&lt;not an entity&gt; &amp; <img src=x>",
      "first line\n  <u>second</u>\tline",
      "<!DOCTYPE html><html><body>page</body></html>",
  };
  for (const QString& text : hostile) {
    SCOPED_TRACE(text.toStdString());
    EXPECT_EQ(Shown(Qt::AutoText, quorvel::PlainToolTip(text)), text);

    // The desktop's own error box, as an error from the server reaches it.
    QString boxShows;
    bool found = false;
    std::function<void()> look = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        QTimer::singleShot(10, look);
        return;
      }
      found = true;
      if (auto* l = box->findChild<QLabel*>("qt_msgbox_label"))
        boxShows = Shown(l->textFormat(), l->text());
      box->accept();
    };
    QTimer::singleShot(0, look);
    TDesktopSeam desktop;
    desktop.MessageBox(nullptr, TUiSeam::bkError, "Quorvel", text);
    EXPECT_TRUE(found);
    EXPECT_EQ(boxShows, text);
  }
  EXPECT_EQ(quorvel::PlainToolTip(""), "");
}

// The server dialog's Test at a port typed but not saved: the server's trust
// at its saved place does not carry over, "Trust and connect" is kept in the
// dialog only (the next Test there connects without asking), and Cancel
// forgets it; the catalogue is never written.
TEST(ServerFormTrust, TestAtAnUnsavedPortAsksAndStoresNothing) {
  const std::string certs = quorvel::test::TestCertificates();
  ASSERT_FALSE(certs.empty());
  quorvel::test::TempDir dir;
  quorvel::test::MakeCatalogue(dir.File("quorvel.db"));
  Tdata d;
  ASSERT_TRUE(
      InitDatabases(d, dir.File("quorvel.db"), dir.Write("dump.db", ""), quorvel::test::kEngine));
  const int id = d.AddServer("a", "127.0.0.1", "636", "Y", "", "", "");
  TPeerCertificate saved;  // "self" trusted where the server is saved
  saved.fingerprint = OpensslFingerprint(certs + "/self.pem");
  saved.host = "127.0.0.1";
  saved.port = 636;
  ASSERT_TRUE(quorvel::TrustCertificate(d, id, saved));

  quorvel::test::TTestSeam seam;
  quorvel::test::RecordingSink sink;
  TServerForm form;
  form.Tag = id;
  form.TrustCatalogue = &d;
  form.SetSecurity("Y");
  form.ed_server->setText("127.0.0.1");
  int port = 0;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const std::string bindOk("\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 14);
    quorvel::test::TlsPeer peer(certs + "/self.pem", certs + "/self.key");
    peer.ReadMessage().Send(bindOk);
    ASSERT_TRUE(peer.Start(port)) << peer.Error();
    port = peer.Port();
    form.ed_port->setText(QString::number(port));
    seam.dialogs.push_back([](QDialog& dlg) { Form(dlg).btntrust->click(); });
    sink.infos.clear();
    form.btntest->click();
    EXPECT_EQ(sink.infos, std::vector<std::string>{"Connection successful..."});
  }
  EXPECT_EQ(seam.dialogsShown, 1);  // asked the first time only
  ASSERT_TRUE(form.TestedTrust());
  EXPECT_EQ(form.TestedTrust()->port, port);
  EXPECT_EQ(form.TestedTrust()->fingerprint, saved.fingerprint);
  const auto rows = quorvel::TrustedCertificates(d, id);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].port, 636);
  form.btncancel->click();
  EXPECT_FALSE(form.TestedTrust());
}
