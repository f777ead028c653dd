// The program's start: the splash window while the data module and the main
// window are created, then the event loop.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "app/icons.h"
#include "app/mainform.h"
#include "app/splash.h"
#include "dialogs/profileform.h"
#include "dialogs/serverform.h"
#include "dialogs/uiseam.h"
#include "store/data.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto splash = std::make_unique<TSplashForm>();
  splash->show();
  splash->repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

  std::unique_ptr<Tdata> module;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TServerForm> serverForm;
  std::unique_ptr<TProfileForm> profileForm;
  try {
    // The application title. No display name is set: the platform would append
    // it to every window title, and each title is the program's own.
    QApplication::setApplicationName("Quorvel");
    // Matches the installed desktop entry, so the desktop shows its icon.
    QGuiApplication::setDesktopFileName("org.example.quorvel");
    QApplication::setWindowIcon(QIcon(quorvel::ProgramPixmap(48)));
    module = std::make_unique<Tdata>();
    data = module.get();
    form = std::make_unique<TMainForm>();
    serverForm = std::make_unique<TServerForm>(form.get());
    profileForm = std::make_unique<TProfileForm>(form.get());
    splash->close();
  } catch (const std::exception& e) {
    UiSeam().MessageBox(nullptr, TUiSeam::bkPlain, "Quorvel", QString::fromUtf8(e.what()));
  }
  splash.reset();
  QApplication::restoreOverrideCursor();
  int rc = 0;
  if (form) {
    form->show();
    rc = QApplication::exec();
  }
  profileForm.reset();
  serverForm.reset();
  form.reset();
  data = nullptr;
  module.reset();
  return rc;
}
