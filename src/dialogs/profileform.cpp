#include "dialogs/profileform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFormLayout>
#include <QLabel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/attributechooser.h"
#include "dialogs/attributelistedit.h"
#include "dialogs/formlayout.h"
#include "dialogs/uiseam.h"
#include "ldap/filter.h"
#include "store/connect.h"
#include "store/messages.h"
#include "store/schemacheck.h"

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

TProfileForm::TProfileForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TProfileForm");
  setWindowTitle("Profile Properties: New");
  // Kept above the program's own windows as a dialog owned by the main window;
  // not above every application's windows, and not above its own boxes.
  quorvel::MakeFixedDialog(*this);

  MakeFields();
  MakeButtons();
  LayOut();

  TabOrder();
  // The server's name is shown, not typed: the name is the first field.
  ed_name->setFocus();

  connect(btnsave, &QPushButton::clicked, this, &TProfileForm::btnsaveClick);
  connect(btncancel, &QPushButton::clicked, this, &TProfileForm::btncancelClick);
  connect(btnchoose, &QPushButton::clicked, this, &TProfileForm::btnchooseClick);
  connect(ed_filter, &QLineEdit::textChanged, this, [this] { CheckFilterText(); });
}

void TProfileForm::MakeFields() {
  ed_server = new QLineEdit(this);
  ed_server->setReadOnly(true);
  ed_server->setEnabled(false);
  ed_name = new QLineEdit(this);
  ed_base = new QLineEdit(this);
  cb_scope = new QComboBox(this);
  cb_scope->setEditable(true);
  // The text is stored through an exact conversion of the three names: the
  // box neither re-cases a typed text to one of them nor adds it to the list.
  cb_scope->setInsertPolicy(QComboBox::NoInsert);
  cb_scope->completer()->setCaseSensitivity(Qt::CaseSensitive);
  cb_scope->addItems({"Base Object", "Single Container", "Sub Containers"});
  cb_scope->setCurrentIndex(0);
  cb_scope->setEditText("Base Object");
  ed_filter = new QLineEdit(this);
  lb_filter = new QLabel(this);
  lb_filter->setTextFormat(Qt::PlainText);
  lb_filter->setWordWrap(true);
  // Room for two lines is kept, so that the fixed-size dialog need not grow.
  lb_filter->setMinimumHeight(2 * lb_filter->fontMetrics().lineSpacing());
  lb_filter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ed_att = new TAttributeListEdit(this);
  ed_att->setPlainText("cn;givenname;sn;email");
  ed_att->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ed_att->setFixedHeight(80);
  ed_att->setTabChangesFocus(true);
  ed_readable = new QCheckBox("Readable Active Directory values (SIDs, GUIDs, times)", this);
  ed_readable->setChecked(true);
  ed_server->setObjectName("ed_server");
  ed_name->setObjectName("ed_name");
  ed_base->setObjectName("ed_base");
  cb_scope->setObjectName("cb_scope");
  ed_filter->setObjectName("ed_filter");
  ed_att->setObjectName("ed_att");
  ed_readable->setObjectName("ed_readable");
  lb_filter->setObjectName("lb_filter");
}

void TProfileForm::MakeButtons() {
  btnsave = new QPushButton("&Save", this);
  btncancel = new QPushButton("&Cancel", this);
  btnrun = new QPushButton("&Run", this);
  btnchoose = new QPushButton("C&hoose...", this);
  btnchoose->setEnabled(false);
  btnchoose->setToolTip("The server's schema could not be read");
  btnsave->setObjectName("btnsave");
  btncancel->setObjectName("btncancel");
  btnrun->setObjectName("btnrun");
  btnchoose->setObjectName("btnchoose");
  btnsave->setDefault(true);
  btncancel->setAutoDefault(false);
  btnrun->setAutoDefault(false);
  btnchoose->setAutoDefault(false);
}

void TProfileForm::LayOut() {
  auto* form = new QFormLayout;
  form->addRow(quorvel::BoldLabel("Server: ", this, ed_server), ed_server);
  form->addRow(quorvel::BoldLabel("&Name: ", this, ed_name), ed_name);
  form->addRow(quorvel::BoldLabel("&Base DN:", this, ed_base), ed_base);
  form->addRow(quorvel::BoldLabel("Sc&ope: ", this, cb_scope), cb_scope);
  form->addRow(quorvel::BoldLabel("&Filter: ", this, ed_filter), ed_filter);
  form->addRow(QString(), lb_filter);
  auto* list = new QHBoxLayout;
  list->addWidget(ed_att, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(btnchoose);
  side->addStretch(1);
  list->addLayout(side);
  form->addRow(quorvel::BoldLabel("&Attribute\nList: ", this, ed_att), list);
  form->addRow(QString(), ed_readable);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnsave);
  buttons->addWidget(btncancel);
  buttons->addWidget(btnrun);
  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

void TProfileForm::TabOrder() {
  quorvel::ChainTabOrder({ed_server, ed_name, ed_base, cb_scope, ed_filter, ed_att, btnchoose,
                          ed_readable, btnsave, btncancel, btnrun});
}

void TProfileForm::btnsaveClick() {
  // The same checks for a new search profile and for an edited one: an edit must not
  // store an empty name (or host, port, ...) either.
  if (ed_name->text().isEmpty()) {
    LogError("\"Name\" cannot be empty, please provide a name fot his search profile.");
    return;
  }
  if (ed_base->text().isEmpty()) {
    LogError("\"Base DN\" cannot be empty, please provide a valid base object.");
    return;
  }
  if (cb_scope->currentText().isEmpty()) {
    LogError("\"Scope\" cannot be empty, please provide a valid scope.");
    return;
  }
  if (ed_filter->text().isEmpty()) {
    LogError("\"Filter\" cannot be empty, please provide a valid search filter.");
    return;
  }
  if (!NamesAccepted()) return;
  if (Tag != 0) Saved = true;
  accept();
}

void TProfileForm::SetSchema(std::shared_ptr<const quorvel::TSchema> schema,
                             const std::string& serverName) {
  schema_ = std::move(schema);
  serverName_ = serverName;
  QStringList names;
  if (schema_)
    for (const std::string& n : schema_->Complete("")) names << Q(n);
  ed_att->SetNames(names);
  btnchoose->setEnabled(schema_ != nullptr);
  btnchoose->setToolTip(schema_ ? "Choose attributes from the server's schema"
                                : "The server's schema could not be read");
  CheckFilterText();
}

void TProfileForm::btnchooseClick() {
  if (!schema_) return;
  TAttributeChooser chooser(*schema_, this);
  if (UiSeam().ExecDialog(chooser) == QDialog::Accepted) ed_att->AppendNames(chooser.Chosen());
}

void TProfileForm::CheckFilterText() {
  const std::string filter = ed_filter->text().toStdString();
  std::vector<std::string> names;
  QString text;
  if (filter.empty()) {
    text.clear();  // Save says that an empty filter cannot be saved
  } else if (auto problem = quorvel::CheckFilter(filter, &names)) {
    text = Q(quorvel::FilterProblemText(*problem));
  } else if (schema_) {
    QStringList lines;
    for (const std::string& n : quorvel::UnknownNames(*schema_, names))
      lines << Q(quorvel::UnknownNameText(*schema_, n, serverName_));
    text = lines.join('\n');
  }
  lb_filter->setText(text);
}

std::vector<std::string> TProfileForm::NameFindings() const {
  std::vector<std::string> out;
  if (!schema_) return out;
  std::vector<std::string> names =
      quorvel::RequestedAttributeNames(ed_att->toPlainText().toStdString());
  std::vector<std::string> filterNames;
  if (!quorvel::CheckFilter(ed_filter->text().toStdString(), &filterNames))
    names.insert(names.end(), filterNames.begin(), filterNames.end());
  for (const std::string& n : quorvel::UnknownNames(*schema_, names))
    out.push_back(quorvel::UnknownNameText(*schema_, n, serverName_));
  return out;
}

bool TProfileForm::NamesAccepted() {
  const std::vector<std::string> findings = NameFindings();
  if (findings.empty()) return true;
  std::string text;
  for (const std::string& f : findings) text += f + "\r\n";
  return Confirm(text + "\r\nSave the profile anyway?");
}

void TProfileForm::btncancelClick() {
  Cancelled = true;
  QDialog::reject();
}

void TProfileForm::reject() {
  btncancelClick();
}
