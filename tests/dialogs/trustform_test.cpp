// The certificate question window: what it says, which answer each key and
// button gives (Cancel unless a trust button is pressed), and that a question
// asked from a worker thread is shown on the GUI thread and answered.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "dialogs/testseam.h"
#include "dialogs/trustform.h"

namespace {

TTrustQuestion Question(bool changed, bool canRemember = true) {
  TTrustQuestion q;
  q.server = "ldap1.example:636";
  q.cert.subject = "/O=Example/CN=ldap1.example";
  q.cert.issuer = q.cert.subject;
  q.cert.notBefore = "2026-01-01 00:00:00 UTC";
  q.cert.notAfter = "2036-01-01 00:00:00 UTC";
  q.cert.fingerprint = "AB:CD:EF";
  q.cert.reason = "self-signed";
  if (changed) q.remembered = "01:02:03";
  q.canRemember = canRemember;
  return q;
}

TTrustForm& Form(QDialog& d) {
  return dynamic_cast<TTrustForm&>(d);
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
                           "/O=Example/CN=ldap1.example", "2036-01-01 00:00:00 UTC", "AB:CD:EF"})
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
