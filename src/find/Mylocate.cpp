#include "find/Mylocate.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "db/FieldTable.h"
#include "find/FindTexts.h"
#include "forms/BusyRun.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::find {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

void Paint(QWidget* control, const QColor& background, const QColor& text) {
  QPalette palette = control->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    if (background.isValid()) palette.setColor(group, QPalette::Window, background);
    if (text.isValid()) palette.setColor(group, QPalette::WindowText, text);
  }
  control->setPalette(palette);
  control->setAutoFillBackground(true);
}

}  // namespace

TMyLocateDlg::TMyLocateDlg(dbf::Table& table, const LocateDialogSetup& setup,
                           const app::AppState& state, QWidget* parent)
    : QDialog(parent), table_(table), setup_(setup), state_(state) {
  setObjectName(QStringLiteral("MyLocateDlg"));
  setWindowTitle(setup_.caption);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  FieldGroup = new QGroupBox(QString::fromUtf8(texts::kLocateFieldGroup), this);
  FieldGroup->setObjectName(QStringLiteral("FieldGroup"));
  FieldGroup->setGeometry(8, 4, 305, 52);
  FieldNameComboBox = new QComboBox(FieldGroup);
  FieldNameComboBox->setObjectName(QStringLiteral("FieldNameComboBox"));
  FieldNameComboBox->setEditable(false);
  FieldNameComboBox->setGeometry(10, 20, 285, 23);
  FieldGroup->setFocusProxy(FieldNameComboBox);

  SearchTypeGroup = new QGroupBox(QString::fromUtf8(texts::kLocateSearchTypeGroup), this);
  SearchTypeGroup->setObjectName(QStringLiteral("SearchTypeGroup"));
  SearchTypeGroup->setGeometry(8, 60, 305, 106);
  CaseSensitiveCheckBox =
      new QCheckBox(QString::fromUtf8(texts::kLocateCaseSensitive), SearchTypeGroup);
  CaseSensitiveCheckBox->setObjectName(QStringLiteral("CaseSensitiveCheckBox"));
  CaseSensitiveCheckBox->setGeometry(10, 18, 285, 20);
  auto radio = [this](const char* text, const char* name, int y) {
    auto* b = new QRadioButton(QString::fromUtf8(text), SearchTypeGroup);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(10, y, 285, 20);
    return b;
  };
  ExactMatchBtn = radio(texts::kLocateExactMatch, "ExactMatchBtn", 40);
  PartialMatchStartBtn = radio(texts::kLocatePartialStart, "PartialMatchStartBtn", 60);
  PartialMatchAnyBtn = radio(texts::kLocatePartialAny, "PartialMatchAnyBtn", 80);
  PartialMatchStartBtn->setChecked(true);

  ValueGroup = new QGroupBox(QString::fromUtf8(texts::kLocateValueGroup), this);
  ValueGroup->setObjectName(QStringLiteral("ValueGroup"));
  ValueGroup->setGeometry(8, 170, 305, 52);
  SearchValue = new QLineEdit(ValueGroup);
  SearchValue->setObjectName(QStringLiteral("SearchValue"));
  SearchValue->setMaxLength(kMaxLocateValue);
  SearchValue->setGeometry(10, 20, 285, 23);
  ValueGroup->setFocusProxy(SearchValue);

  ButtonPanel = new QFrame(this);
  ButtonPanel->setObjectName(QStringLiteral("ButtonPanel"));
  ButtonPanel->setFrameShape(QFrame::StyledPanel);
  ButtonPanel->setGeometry(8, 228, 305, 41);
  auto button = [this](const char* text, const char* name, int x) {
    auto* b = new QPushButton(QString::fromUtf8(text), ButtonPanel);
    b->setObjectName(QLatin1String(name));
    // Only the chosen default button answers Enter, never the focused one.
    b->setAutoDefault(false);
    b->setGeometry(x, 7, 89, 27);
    return b;
  };
  FirstButton = button(texts::kLocateFirst, "FirstButton", 8);
  NextButton = button(texts::kLocateNext, "NextButton", 108);
  BitBtn1 = button(texts::kLocateCancel, "BitBtn1", 208);
  resize(321, 277);

  for (const LocateFieldItem& item : setup_.fields) FieldNameComboBox->addItem(item.label);
  FieldNameComboBox->setCurrentIndex(setup_.selected);
  SearchValue->setText(setup_.value);
  CaseSensitiveCheckBox->setChecked(setup_.case_sensitive);
  switch (setup_.match_type) {
    case TMyLocateMatchType::mtExactMatch:
      ExactMatchBtn->setChecked(true);
      break;
    case TMyLocateMatchType::mtPartialMatchStart:
      PartialMatchStartBtn->setChecked(true);
      break;
    case TMyLocateMatchType::mtPartialMatchAny:
      PartialMatchAnyBtn->setChecked(true);
      break;
  }
  SetDefaultButton();

  connect(FirstButton, &QPushButton::clicked, this, &TMyLocateDlg::FindFirst);
  connect(NextButton, &QPushButton::clicked, this, &TMyLocateDlg::FindNextBtnClick);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
  connect(FieldNameComboBox, &QComboBox::currentIndexChanged, this,
          &TMyLocateDlg::FieldNameComboBoxChange);
  FieldNameComboBox->installEventFilter(this);
  FieldNameComboBox->view()->installEventFilter(this);
}

LocateDialogResult TMyLocateDlg::Controls() const {
  LocateDialogResult r;
  r.found = found_;
  r.field_label = FieldNameComboBox->currentIndex() >= 0 ? FieldNameComboBox->currentText() : "";
  r.value = SearchValue->text();
  r.case_sensitive = CaseSensitiveCheckBox->isChecked();
  r.match_type = ExactMatchBtn->isChecked()        ? TMyLocateMatchType::mtExactMatch
                 : PartialMatchAnyBtn->isChecked() ? TMyLocateMatchType::mtPartialMatchAny
                                                   : TMyLocateMatchType::mtPartialMatchStart;
  return r;
}

void TMyLocateDlg::Search(bool from_start) {
  LocateResult result;
  try {
    // The hourglass while the table is walked; the windows repaint meanwhile.
    forms::BusyRun busy;
    result = LocateFromDialog(table_, from_start, setup_, Controls(), &forms::BusyRun::Pulse);
  } catch (const std::exception&) {
    // An engine error ends the command: the dialog closes and whoever ran
    // it shows the error in the general error display.
    error_ = std::current_exception();
    reject();
    return;
  }
  if (result.found) {
    found_ = true;
    accept();
    return;
  }
  ShowLocateMessage(this, result.message);
}

void TMyLocateDlg::FindFirst() {
  Search(true);
}

void TMyLocateDlg::FindNextBtnClick() {
  Search(false);
}

bool TMyLocateDlg::ListDroppedDown() const {
  return FieldNameComboBox->view()->isVisible();
}

void TMyLocateDlg::FieldNameComboBoxChange() {
  SearchValue->clear();
  if (!ListDroppedDown()) SearchValue->setFocus();
}

void TMyLocateDlg::FieldNameComboBoxEnter() {
  // Enter in the list must not start a search.
  FirstButton->setDefault(false);
  NextButton->setDefault(false);
}

void TMyLocateDlg::FieldNameComboBoxExit() {
  SetDefaultButton();
}

void TMyLocateDlg::SetDefaultButton() {
  const bool first = setup_.default_button == TMyDefaultButtonType::dbFindFirst;
  FirstButton->setDefault(first);
  NextButton->setDefault(!first);
}

bool TMyLocateDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FieldNameComboBox) {
    if (event->type() == QEvent::FocusIn) FieldNameComboBoxEnter();
    if (event->type() == QEvent::FocusOut && !ListDroppedDown()) FieldNameComboBoxExit();
  } else if (watched == FieldNameComboBox->view() && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      const QModelIndex current = FieldNameComboBox->view()->currentIndex();
      FieldNameComboBox->hidePopup();
      if (current.isValid()) FieldNameComboBox->setCurrentIndex(current.row());
      SearchValue->setFocus();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TMyLocateDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TMyLocateDlg::FormShow() {
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::ApplyUserFonts(this, state_.fonts);
  SetColors();
}

void TMyLocateDlg::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(FieldGroup),
                     static_cast<QWidget*>(SearchTypeGroup), static_cast<QWidget*>(ValueGroup),
                     static_cast<QWidget*>(ButtonPanel)})
    Paint(w, c[app::kMainBackground], c[app::kMinorTitle]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

LocateDialogResult RunLocateDialog(dbf::Table& table, const LocateDialogSetup& setup,
                                   const app::AppState& state, QWidget* parent) {
  TMyLocateDlg dialog(table, setup, state, parent);
  dialog.exec();
  if (dialog.error()) std::rethrow_exception(dialog.error());
  return dialog.Controls();
}

void ShowLocateMessage(QWidget* parent, const LocateMessage& message) {
  switch (message.box) {
    case LocateMessage::Box::kNone:
      return;
    case LocateMessage::Box::kInformation:
      prompts().Notify(parent, QString::fromUtf8(texts::kInformation), message.text,
                       MsgIcon::kInformation);
      return;
    case LocateMessage::Box::kWarning:
      prompts().Notify(parent, QString::fromUtf8(texts::kWarning), message.text, MsgIcon::kWarning);
      return;
    case LocateMessage::Box::kError:
      prompts().Notify(parent, QString::fromUtf8(texts::kError), message.text, MsgIcon::kError);
      return;
  }
}

QString LocateLabel(const app::AppState& state, const dbf::Table& table, const dbf::Field& field) {
  const int n = field.index() + 1;
  if (table.FieldCount() == db::kFieldCount && n >= 1 && n <= db::kFieldCount) {
    const QString& caption = state.settings.field_names[static_cast<size_t>(n)];
    if (!caption.trimmed().isEmpty()) return caption;
  }
  return QString::fromStdString(field.name());
}

}  // namespace klv::find
