#include "edit/EditBox1.h"

#include <algorithm>

#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include "edit/EditTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::edit {

using db::InfoOf;
using db::ListKind;
using db::PickLists;
using db::ReadListFile;
using db::TrimBlanks;
using db::WriteListFile;

namespace t = edit::texts;
using forms::SetControlColors;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

TMyEditBox::TMyEditBox(QWidget* parent, const app::AppState& state, PickLists& lists, ListKind kind,
                       std::function<void()> save_all)
    : QDialog(parent), state_(state), lists_(lists), kind_(kind), save_all_(std::move(save_all)) {
  setObjectName(QStringLiteral("MyEditBox"));
  setWindowTitle(
      QString::fromLatin1(t::kEditListCaption).arg(QString::fromLatin1(InfoOf(kind).name)));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  TheList = new QListWidget(this);
  TheList->setObjectName(QStringLiteral("TheList"));
  TheList->setGeometry(8, 8, 232, 254);
  AddInfo = new QLineEdit(this);
  AddInfo->setObjectName(QStringLiteral("AddInfo"));
  AddInfo->setMaxLength(InfoOf(kind).max_length);
  AddInfo->setGeometry(8, 270, 232, 23);
  auto button = [this](const char* text, const char* name, int x, int y) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    b->setGeometry(x, y, 84, 27);
    return b;
  };
  AddButton = button(t::kAddButton, "AddButton", 252, 268);
  DeleteButton = button(t::kDeleteButton, "DeleteButton", 252, 8);
  SortButton = button(t::kSortButton, "SortButton", 252, 42);
  OkButton = button(t::kOkButton, "OkButton", 252, 200);
  CancelButton = button(t::kCancelButton, "CancelButton", 252, 234);
  resize(344, 302);

  connect(AddButton, &QPushButton::clicked, this, &TMyEditBox::AddButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TMyEditBox::DeleteButtonClick);
  connect(SortButton, &QPushButton::clicked, this, &TMyEditBox::SortButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TMyEditBox::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TMyEditBox::CancelButtonClick);
  // Enter in the entry field adds it, as the Add button would.
  connect(AddInfo, &QLineEdit::returnPressed, this, &TMyEditBox::AddButtonClick);

  const QStringList entries = kind == ListKind::kMiscellaneous
                                  ? ReadListFile(lists_.DefaultFile(ListKind::kMiscellaneous))
                                  : lists_.FormList(kind);
  TheList->addItems(entries);
}

QStringList TMyEditBox::Entries() const {
  QStringList out;
  for (int i = 0; i < TheList->count(); ++i) out.append(TheList->item(i)->text());
  return out;
}

void TMyEditBox::AddButtonClick() {
  const QString entry = TrimBlanks(AddInfo->text());
  if (!entry.isEmpty()) TheList->addItem(entry);
  AddInfo->clear();
  AddInfo->setFocus();
}

void TMyEditBox::DeleteButtonClick() {
  const int row = TheList->currentRow();
  if (row < 0 || TheList->currentItem() == nullptr || !TheList->currentItem()->isSelected()) return;
  delete TheList->takeItem(row);
  if (TheList->count() > 0) TheList->setCurrentRow(std::min(row, TheList->count() - 1));
}

void TMyEditBox::SortButtonClick() {
  if (prompts().MessageBox(this, t::kCaptionConfirm, QString::fromLatin1(t::kSortQuestion),
                           MsgIcon::kQuestion, MsgButtons::kYesNo) != MsgButton::kYes)
    return;
  QStringList entries = Entries();
  std::stable_sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  const QString current = TheList->currentItem() ? TheList->currentItem()->text() : QString();
  TheList->clear();
  TheList->addItems(entries);
  if (!entries.isEmpty()) TheList->setCurrentRow(std::max<int>(0, entries.indexOf(current)));
}

void TMyEditBox::OkButtonClick() {
  if (kind_ == ListKind::kMiscellaneous)
    WriteListFile(lists_.DefaultFile(ListKind::kMiscellaneous), Entries());
  else
    lists_.Replace(kind_, Entries());
  if (save_all_) save_all_();
  accept();
}

void TMyEditBox::CancelButtonClick() {
  reject();
}

void TMyEditBox::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  SetControlColors(this, c[app::kMainBackground], c[app::kMinorTitle]);
  setAutoFillBackground(true);
  SetControlColors(AddInfo, c[app::kEditBackground], c[app::kEditText]);
  SetControlColors(TheList, c[app::kListBoxBackground], c[app::kListBoxText]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TMyEditBox::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::ScaleAndCentre(this, state_.scale_factor);
    SetColors();
    TheList->setFocus();
    if (TheList->count() > 0) TheList->setCurrentRow(0);
  }
  QDialog::showEvent(event);
}

bool EditAList(QWidget* owner, const app::AppState& state, PickLists& lists, ListKind kind,
               const std::function<void()>& save_all) {
  TMyEditBox box(owner, state, lists, kind, save_all);
  return box.exec() == QDialog::Accepted;
}

bool EditSpecList(QWidget* owner, const app::AppState& state, PickLists& lists,
                  const std::function<void()>& save_all) {
  return EditAList(owner, state, lists, ListKind::kMiscellaneous, save_all);
}

namespace {

bool AskDefaults(QWidget* parent, const char* question) {
  prompts().Beep();
  return prompts().MessageBox(parent, t::kCaptionWarning, QString::fromUtf8(question),
                              MsgIcon::kQuestion, MsgButtons::kYesNo,
                              MsgButton::kNo) == MsgButton::kYes;
}

}  // namespace

bool MenuSaveAsDefaultsClick(QWidget* parent, PickLists& lists) {
  if (!AskDefaults(parent, t::kSaveAsDefaultsQuestion)) return false;
  lists.SaveDefaultLists();
  return true;
}

bool MenuLoadInDefaultsClick(QWidget* parent, PickLists& lists) {
  if (!AskDefaults(parent, t::kLoadDefaultsQuestion)) return false;
  lists.LoadDefaultList();
  return true;
}

}  // namespace klv::edit
