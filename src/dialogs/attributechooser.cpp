#include "dialogs/attributechooser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/formlayout.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

enum TColumn { cName, cOthers, cDescription, cSyntax, cValues };

}  // namespace

namespace quorvel {
QString SyntaxText(const std::string& oid) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"1.3.6.1.4.1.1466.115.121.1.7", "Boolean"},
      {"1.3.6.1.4.1.1466.115.121.1.12", "DN"},
      {"1.3.6.1.4.1.1466.115.121.1.15", "Directory String"},
      {"1.3.6.1.4.1.1466.115.121.1.24", "Generalized Time"},
      {"1.3.6.1.4.1.1466.115.121.1.26", "IA5 String"},
      {"1.3.6.1.4.1.1466.115.121.1.27", "Integer"},
      {"1.3.6.1.4.1.1466.115.121.1.28", "JPEG"},
      {"1.3.6.1.4.1.1466.115.121.1.36", "Numeric String"},
      {"1.3.6.1.4.1.1466.115.121.1.38", "OID"},
      {"1.3.6.1.4.1.1466.115.121.1.40", "Octet String"},
      {"1.3.6.1.4.1.1466.115.121.1.44", "Printable String"},
      {"1.3.6.1.4.1.1466.115.121.1.50", "Telephone Number"},
  };
  for (const auto& [o, name] : kNames)
    if (oid == o) return Q(oid) + " (" + name + ")";
  return Q(oid);
}
}  // namespace quorvel

TAttributeChooser::TAttributeChooser(const quorvel::TSchema& schema, QWidget* parent)
    : QDialog(parent), schema_(schema) {
  setObjectName("TAttributeChooser");
  setWindowTitle("Choose Attributes");
  ed_search = new QLineEdit(this);
  ed_search->setObjectName("ed_search");
  ed_search->setPlaceholderText("Part of a name or description");
  ed_search->setClearButtonEnabled(true);
  cb_class = new QComboBox(this);
  cb_class->setObjectName("cb_class");
  cb_class->addItem("All attribute types");
  for (const std::string& c : schema.ClassNames()) cb_class->addItem(Q(c));
  lv_attributes = new QTreeWidget(this);
  lv_attributes->setObjectName("lv_attributes");
  lv_attributes->setAccessibleName("Attribute types");
  lv_attributes->setRootIsDecorated(false);
  lv_attributes->setUniformRowHeights(true);
  lv_attributes->setHeaderLabels({"Name", "Other names", "Description", "Syntax", "Values"});
  lv_attributes->header()->setStretchLastSection(false);
  lv_attributes->header()->setSectionResizeMode(cDescription, QHeaderView::Stretch);
  auto* buttons = new QDialogButtonBox(this);
  btnok = buttons->addButton("&Add", QDialogButtonBox::AcceptRole);
  btncancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
  btnok->setObjectName("btnok");
  btncancel->setObjectName("btncancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(quorvel::BoldLabel("&Find: ", this, ed_search));
  top->addWidget(ed_search, 1);
  top->addWidget(quorvel::BoldLabel("Object &class: ", this, cb_class));
  top->addWidget(cb_class);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(lv_attributes, 1);
  all->addWidget(buttons);
  resize(760, 480);

  Fill();
  connect(ed_search, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(cb_class, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
  ed_search->setFocus();
}

void TAttributeChooser::Fill() {
  std::vector<const quorvel::TAttributeType*> types;
  for (const quorvel::TAttributeType& t : schema_.AttributeTypes()) types.push_back(&t);
  std::stable_sort(types.begin(), types.end(), [](const auto* a, const auto* b) {
    return quorvel::LessNoCase(a->Name(), b->Name());
  });
  for (const quorvel::TAttributeType* t : types) {
    QStringList others;
    for (std::size_t i = 1; i < t->names.size(); ++i) others << Q(t->names[i]);
    auto* item = new QTreeWidgetItem(lv_attributes);
    item->setText(cName, Q(t->Name()));
    item->setText(cOthers, others.join(", "));
    item->setText(cDescription, Q(t->desc));
    item->setToolTip(cDescription, Q(t->desc).toHtmlEscaped());
    item->setText(cSyntax, quorvel::SyntaxText(schema_.Syntax(*t)));
    item->setText(cValues, t->singleValue ? "single" : "multiple");
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(cName, Qt::Unchecked);
  }
  for (int c : {cName, cOthers, cSyntax, cValues}) lv_attributes->resizeColumnToContents(c);
}

void TAttributeChooser::ApplyFilter() {
  const QString needle = ed_search->text().trimmed();
  QSet<QString> allowed;
  const bool byClass = cb_class->currentIndex() > 0;
  if (byClass) {
    const quorvel::TClassAttributes a =
        schema_.ClassAttributes(cb_class->currentText().toStdString());
    for (const auto* list : {&a.must, &a.may})
      for (const std::string& n : *list) allowed.insert(Q(n).toLower());
  }
  for (int i = 0; i < lv_attributes->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lv_attributes->topLevelItem(i);
    bool show = !byClass || allowed.contains(item->text(cName).toLower());
    if (show && !needle.isEmpty())
      show = item->text(cName).contains(needle, Qt::CaseInsensitive) ||
             item->text(cOthers).contains(needle, Qt::CaseInsensitive) ||
             item->text(cDescription).contains(needle, Qt::CaseInsensitive);
    item->setHidden(!show);
  }
}

QStringList TAttributeChooser::Chosen() const {
  QStringList out;
  for (int i = 0; i < lv_attributes->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lv_attributes->topLevelItem(i);
    if (item->checkState(cName) == Qt::Checked) out << item->text(cName);
  }
  return out;
}

QStringList TAttributeChooser::Shown() const {
  QStringList out;
  for (int i = 0; i < lv_attributes->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lv_attributes->topLevelItem(i);
    if (!item->isHidden()) out << item->text(cName);
  }
  return out;
}
