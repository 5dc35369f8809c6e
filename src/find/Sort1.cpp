#include "find/Sort1.h"

#include <QComboBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include "app/AppTexts.h"
#include "db/FieldTable.h"
#include "find/FindTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::find {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

using platform::L;

bool HasTag(const dbf::Table& table, const char* name) {
  for (const dbf::TagInfo& t : table.Tags()) {
    if (QString::fromStdString(t.name).compare(L(name), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

}  // namespace

void ApplySortIndex(dbf::Table& table, const QString& sort_string) {
  if (sort_string.isEmpty()) {
    // Natural order; the tag stays in the index file for other programs.
    table.SetIndexName("");
    return;
  }
  if (HasTag(table, app::texts::kIndexTag)) {
    table.SetIndexName("");
    table.DeleteIndex(app::texts::kIndexTag);
  }
  table.AddIndex(app::texts::kIndexTag, sort_string.toStdString());
  table.SetIndexName(app::texts::kIndexTag);
}

TMySortOrder::TMySortOrder(app::OpenDatabase& db, QWidget* parent) : QDialog(parent), db_(db) {
  setObjectName(QStringLiteral("MySortOrder"));
  setWindowTitle(L(texts::kSortCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  FormCreate();
}

void TMySortOrder::FormCreate() {
  QStringList items{L(texts::kSortNone)};
  const auto& names = db_.state().settings.field_names;
  for (int f = 1; f <= db::kFieldCount; ++f) items << names[static_cast<size_t>(f)];
  for (size_t i = 0; i < 4; ++i) {
    const int top = 8 + static_cast<int>(i) * 48;
    LabelSort[i] = new QLabel(L(texts::kSortLabels[i]), this);
    LabelSort[i]->setObjectName(QStringLiteral("LabelSort%1").arg(i + 1));
    LabelSort[i]->setGeometry(8, top, 200, 18);
    ComboBox[i] = new QComboBox(this);
    ComboBox[i]->setObjectName(QStringLiteral("ComboBox%1").arg(i + 1));
    ComboBox[i]->setEditable(false);
    ComboBox[i]->addItems(items);
    ComboBox[i]->setMaxVisibleItems(items.size());
    ComboBox[i]->setGeometry(8, top + 20, 200, 23);
  }
  OkButton = new QPushButton(L(texts::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(8, 204, 96, 27);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(L(texts::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(112, 204, 96, 27);
  CancelButton->setAutoDefault(false);
  resize(216, 239);
  connect(OkButton, &QPushButton::clicked, this, &TMySortOrder::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TMySortOrder::CancelButtonClick);
}

void TMySortOrder::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TMySortOrder::FormShow() {
  const app::AppState& state = db_.state();
  forms::ApplyUserFonts(this, state.fonts);
  forms::ScaleAndCentre(this, state.scale_factor);
  for (size_t i = 0; i < 4; ++i) {
    const int level = state.settings.sort_levels[i];
    ComboBox[i]->setCurrentIndex(level >= 0 && level <= db::kFieldCount ? level : 0);
  }
  SetColors();
}

void TMySortOrder::SetColors() {
  const app::ColorGroup& c = db_.state().settings.colors[app::kConfigureColors];
  auto paint = [&](QWidget* w) {
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
      if (c[app::kMainBackground].isValid())
        p.setColor(g, QPalette::Window, c[app::kMainBackground]);
      if (w != this && c[app::kMinorTitle].isValid())
        p.setColor(g, QPalette::WindowText, c[app::kMinorTitle]);
    }
    w->setPalette(p);
    w->setAutoFillBackground(true);
  };
  paint(this);
  for (QLabel* label : LabelSort) paint(label);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TMySortOrder::Error(const char* text) {
  prompts().MessageBox(this, L(texts::kError), L(text), MsgIcon::kError, MsgButtons::kOk,
                       MsgButton::kOk);
}

void TMySortOrder::OkButtonClick() {
  std::array<int, 4>& levels = db_.state().settings.sort_levels;
  const std::array<int, 4> previous = levels;
  std::array<int, 4> chosen{};
  for (size_t i = 0; i < 4; ++i) chosen[i] = ComboBox[i]->currentIndex();
  app::OpenDatabase::ExclusiveResult result;
  try {
    result = db_.WithExclusiveUse([&](dbf::Table& table) {
      levels = chosen;
      db_.BuildSortString();
      ApplySortIndex(table, db_.sort_string());
      db_.WriteDatabaseSettings(db_.paths().ini);
    });
  } catch (const std::exception&) {
    Error(texts::kSortFailed);
    levels = previous;
    db_.BuildSortString();
    // The failed step may have dropped or replaced the tag: build the
    // previous order's again. An error here goes to the general display.
    db_.WithExclusiveUse([this](dbf::Table& table) { ApplySortIndex(table, db_.sort_string()); });
    return;
  }
  if (result == app::OpenDatabase::ExclusiveResult::kInUse) {
    Error(texts::kSortInUse);
    return;
  }
  accept();
}

void TMySortOrder::CancelButtonClick() {
  reject();
}

void DoSortOrder(app::OpenDatabase& db, QWidget* owner) {
  TMySortOrder dialog(db, owner);
  dialog.exec();
}

}  // namespace klv::find
