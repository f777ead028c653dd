#include "app/helpviewer.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QUrl>

#include "dialogs/uiseam.h"

namespace quorvel {

THelpViewer::THelpViewer(const QString& indexFile, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("THelpViewer");
  setWindowTitle("Quorvel Help");
  resize(760, 520);
  auto* split = new QSplitter(this);
  contents = new QListWidget(split);
  contents->setObjectName("contents");
  page = new QTextBrowser(split);
  page->setObjectName("page");
  page->setOpenExternalLinks(false);
  // Named for screen readers: the chapters, and the chapter shown.
  contents->setAccessibleName("Contents");
  page->setAccessibleName("Quorvel Help");
  split->setStretchFactor(1, 1);
  split->setSizes({200, 560});
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(split);

  QFileInfo info(indexFile);
  page->setSearchPaths({info.absolutePath()});
  auto* top = new QListWidgetItem("Contents", contents);
  top->setData(Qt::UserRole, info.fileName());
  // The contents page lists its chapters as links; each link becomes an entry.
  QFile f(indexFile);
  if (f.open(QIODevice::ReadOnly)) {
    const QString html = QString::fromUtf8(f.readAll());
    static const QRegularExpression link(
        R"re(<a\s+href="([^"#]+)"[^>]*>(.*?)</a>)re",
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    for (auto it = link.globalMatch(html); it.hasNext();) {
      auto m = it.next();
      QString caption = m.captured(2);
      caption.remove(QRegularExpression("<[^>]*>"));
      auto* item = new QListWidgetItem(caption.simplified(), contents);
      item->setData(Qt::UserRole, m.captured(1));
    }
  }
  connect(contents, &QListWidget::currentItemChanged, this,
          [this](QListWidgetItem* item, QListWidgetItem*) {
            if (item) page->setSource(QUrl(item->data(Qt::UserRole).toString()));
          });
  contents->setCurrentRow(0);
}

THelpViewer* ShowHelpContents(const QString& indexFile, QWidget* owner) {
  if (!QFileInfo::exists(indexFile)) {
    UiSeam().MessageBox(owner, TUiSeam::bkWarning, "Warning!",
                        "Unable to view HTML help (*.chm). Update windows help system. Get new "
                        "\"HHCTRL.OCX\" library.");
    return nullptr;
  }
  auto* viewer = new THelpViewer(indexFile, owner);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->show();
  viewer->raise();
  return viewer;
}

}  // namespace quorvel
