#include "export/ui/selectionform.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "dialogs/uiseam.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Picture index -> colour and short caption of the page drawn for it.
struct Picture {
  QColor color;
  const char* text;
};
const Picture kPictures[] = {
    {QColor(0x80, 0x40, 0x00), "RTF"},  {QColor(0x00, 0x80, 0x40), "CSV"},
    {QColor(0xE0, 0x60, 0x00), "<>"},   {QColor(0x40, 0x40, 0x40), "TXT"},
    {QColor(0x20, 0x50, 0xB0), "W"},    {QColor(0x10, 0x80, 0x30), "X"},
    {QColor(0x60, 0x60, 0xA0), "DAT"},  {QColor(0x90, 0x70, 0x30), "CLP"},
    {QColor(0x1D, 0x6F, 0x42), "XLSX"},
};
constexpr int kPictureCount = static_cast<int>(sizeof kPictures / sizeof kPictures[0]);

}  // namespace

namespace quorvel {

void TFormatPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Picture& pic = kPictures[index_ >= 0 && index_ < kPictureCount ? index_ : 0];
  // A sheet of paper with a folded corner and a coloured band with the caption.
  const QRectF page(3.5, 1.5, 24, 30);
  QPainterPath path;
  path.moveTo(page.topLeft());
  path.lineTo(page.right() - 7, page.top());
  path.lineTo(page.right(), page.top() + 7);
  path.lineTo(page.bottomRight());
  path.lineTo(page.bottomLeft());
  path.closeSubpath();
  p.setPen(QPen(Qt::darkGray, 1));
  p.setBrush(Qt::white);
  p.drawPath(path);
  p.setBrush(pic.color);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(0.5, 14.5, 31, 12));
  p.setPen(Qt::white);
  QFont f = font();
  f.setPixelSize(9);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRectF(0.5, 14.5, 31, 12), Qt::AlignCenter, QString::fromLatin1(pic.text));
}

}  // namespace quorvel

Tfrm_Selection::Tfrm_Selection(QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frm_Selection");
  setFixedSize(322, 123);
  GroupBox = new QGroupBox(this);
  GroupBox->setGeometry(8, 8, 225, 113);
  FormatList = new QComboBox(GroupBox);
  FormatList->setEditable(false);
  FormatList->setGeometry(8, 24, 209, FormatList->sizeHint().height());
  rdo_View = new QRadioButton(GroupBox);
  rdo_View->setObjectName("rdo_View");
  rdo_View->move(8, 60);
  rdo_File = new QRadioButton(GroupBox);
  rdo_File->setObjectName("rdo_File");
  rdo_File->move(8, 80);
  Picture = new quorvel::TFormatPicture(GroupBox);
  Picture->setGeometry(176, 64, 40, 40);
  btn_Selection = new QPushButton(this);
  btn_Selection->setObjectName("btn_Selection");
  btn_Selection->setGeometry(240, 8, 75, 25);
  btn_Selection->setDefault(true);
  btn_Selection->setAutoDefault(true);
  btn_Cancel = new QPushButton(this);
  btn_Cancel->setObjectName("btn_Cancel");
  btn_Cancel->setGeometry(240, 40, 75, 25);
  btn_Cancel->setAutoDefault(false);

  // Tab in the order the controls are laid out: the group box's list and
  // choices, then the buttons beside it.
  for (auto [from, to] : {std::pair<QWidget*, QWidget*>{FormatList, rdo_View},
                          {rdo_View, rdo_File},
                          {rdo_File, btn_Selection},
                          {btn_Selection, btn_Cancel}})
    setTabOrder(from, to);

  connect(btn_Selection, &QPushButton::clicked, this, &QDialog::accept);
  connect(btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(FormatList, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
  connect(rdo_View, &QRadioButton::clicked, this, [this] {
    if (engine_) engine_->ExportStyle = xsView;
  });
  connect(rdo_File, &QRadioButton::clicked, this, [this] {
    if (engine_) engine_->ExportStyle = xsFile;
  });
}

void Tfrm_Selection::Prepare(TkxCustomExport& engine) {
  engine_ = nullptr;  // filling the list must not change the engine yet
  setWindowTitle(Q(engine.Messages.Caption));
  btn_Selection->setText(Q(engine.Messages.ExportCaption));
  btn_Cancel->setText(Q(engine.Messages.CancelCaption));
  GroupBox->setTitle(Q(" " + engine.Messages.SelectFormat + " "));
  rdo_View->setText(Q(engine.Messages.ViewOnly));
  rdo_File->setText(Q(engine.Messages.ExportToFile));
  rdo_View->adjustSize();
  rdo_File->adjustSize();

  engine.ExportTypes.Include(engine.ExportType);
  FormatList->blockSignals(true);
  FormatList->clear();
  int current = 0;
  for (const TkxFormatInfo& f : ExportFormatTable()) {
    if (!engine.ExportTypes.Has(f.Type)) continue;
    if (f.Type == engine.ExportType) current = FormatList->count();
    FormatList->addItem(QString::fromLatin1(f.ListText), static_cast<int>(f.Type));
  }
  FormatList->setMaxVisibleItems(std::max(1, FormatList->count()));
  FormatList->setCurrentIndex(current);
  FormatList->blockSignals(false);

  rdo_View->setChecked(engine.ExportStyle == xsView);
  rdo_File->setChecked(engine.ExportStyle == xsFile);
  engine_ = &engine;
  FormatChanged();
  // The window is kept between exports; each one starts at the format list.
  FormatList->setFocus();
}

void Tfrm_Selection::FormatChanged() {
  if (engine_ == nullptr || FormatList->currentIndex() < 0) return;
  // The format follows the selected text.
  const QString text = FormatList->currentText();
  for (const TkxFormatInfo& f : ExportFormatTable())
    if (text == QString::fromLatin1(f.ListText)) {
      engine_->ExportType = f.Type;
      Picture->SetIndex(f.Icon);
    }
  const bool clipboard = text == QLatin1String("Clipboard");
  rdo_View->setEnabled(!clipboard);
  rdo_File->setEnabled(!clipboard);
}

bool Tfrm_Selection::Execute(TkxCustomExport& engine) {
  Prepare(engine);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  // Shown through the desktop seam, so tests can answer the window.
  const bool ok = UiSeam().ExecDialog(*this) == QDialog::Accepted;
  engine_ = nullptr;
  return ok;
}
