// The splash window shown while the program starts and as the About box.
#pragma once

#include <QWidget>

class QLabel;

class TSplashForm : public QWidget {
  Q_OBJECT
 public:
  explicit TSplashForm(QWidget* owner = nullptr);
  QLabel* version = nullptr;  // "Version major.minor.release Build build"
  QLabel* notice = nullptr;   // hidden at start-up, shown in the About box
  QLabel* contact = nullptr;
  QLabel* website = nullptr;

 protected:
  void paintEvent(QPaintEvent*) override;
};

namespace quorvel {

// The product's web site, shown by the splash window and opened by "Visit Website".
extern const char* const kWebsite;

// Keeps the windows painted for `ms` milliseconds without processing any input.
// Pauses can be switched off (tests do).
void HoldOnScreen(int ms);
void SetPausesEnabled(bool on);
bool PausesEnabled();

}  // namespace quorvel
