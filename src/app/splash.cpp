#include "app/splash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

#include "app/icons.h"
#include "app/version.h"

namespace quorvel {

const char* const kWebsite = "https://quorvel.example.org/";

namespace {
bool g_pauses = true;
}

void SetPausesEnabled(bool on) {
  g_pauses = on;
}
bool PausesEnabled() {
  return g_pauses;
}

void HoldOnScreen(int ms) {
  if (!g_pauses) return;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    // Paint requests are served, input events stay queued.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QThread::msleep(10);
  }
}

}  // namespace quorvel

namespace {
constexpr int kBannerHeight = 70;
}

TSplashForm::TSplashForm(QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("TSplashForm");
  setFixedSize(374, 234);
  setAttribute(Qt::WA_DeleteOnClose, false);

  version = new QLabel(this);
  version->setObjectName("version");
  QFont vf = version->font();
  vf.setBold(true);
  vf.setPointSize(11);
  version->setFont(vf);
  version->setStyleSheet("color: maroon;");
  version->setTextFormat(Qt::PlainText);  // read from the program file
  version->setText(QString::fromStdString(quorvel::SplashVersionText()));
  version->setGeometry(70, kBannerHeight + 8, 290, 22);

  notice = new QLabel(this);
  notice->setObjectName("notice");
  notice->setAlignment(Qt::AlignCenter);
  notice->setWordWrap(true);
  notice->setTextFormat(Qt::PlainText);  // may show a folder's path
  notice->setText(
      "Quorvel reads entries out of LDAP directories and turns them into reports.\n"
      "Please wait...");
  notice->setGeometry(14, kBannerHeight + 64, 346, 52);
  notice->setVisible(false);

  contact = new QLabel("Contact: support@quorvel.example.org", this);
  contact->setObjectName("contact");
  contact->setGeometry(14, 234 - 46, 346, 18);
  website = new QLabel(quorvel::kWebsite, this);
  website->setObjectName("website");
  website->setGeometry(14, 234 - 26, 346, 18);

  if (QScreen* s = QGuiApplication::primaryScreen()) {
    QRect g = s->availableGeometry();
    move(g.center() - rect().center());
  }
}

void TSplashForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // A 1-pixel black border around a pale green panel, with a banner on top.
  p.fillRect(rect(), QColor(0, 0, 0));
  QRect inner = rect().adjusted(1, 1, -1, -1);
  p.fillRect(inner, QColor(0xE6, 0xF5, 0xE0));
  QRect banner(inner.left(), inner.top(), inner.width(), kBannerHeight);
  QLinearGradient g(banner.topLeft(), banner.topRight());
  g.setColorAt(0, QColor(128, 0, 0));
  g.setColorAt(1, QColor(210, 120, 60));
  p.fillRect(banner, g);
  QFont f = font();
  f.setBold(true);
  f.setPointSize(22);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(banner.adjusted(16, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, "Quorvel");
  QFont s = font();
  s.setItalic(true);
  p.setFont(s);
  p.drawText(banner.adjusted(0, 0, -14, -8), Qt::AlignBottom | Qt::AlignRight, "directory reports");
  p.drawPixmap(14, kBannerHeight + 6, quorvel::ProgramPixmap(48));
}
