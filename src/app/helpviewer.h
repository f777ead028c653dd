// The in-program help viewer: the help's table of contents beside the page.
#pragma once

#include <QWidget>

class QListWidget;
class QTextBrowser;

namespace quorvel {

class THelpViewer : public QWidget {
  Q_OBJECT
 public:
  // `indexFile` is the help's contents page; its links form the contents list.
  explicit THelpViewer(const QString& indexFile, QWidget* parent = nullptr);
  QListWidget* contents = nullptr;
  QTextBrowser* page = nullptr;
};

// Shows the table of contents of the help file; when the file is missing,
// the "Warning!" box instead. Returns the viewer (owned by `owner`) or null.
THelpViewer* ShowHelpContents(const QString& indexFile, QWidget* owner);

}  // namespace quorvel
