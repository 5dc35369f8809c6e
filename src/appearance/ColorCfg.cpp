#include "appearance/ColorCfg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "appearance/AppearanceTexts.h"
#include "appearance/ColorSets.h"
#include "appearance/GroupColors.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::appearance {
namespace {

using platform::L;

}  // namespace

TColorConfig::TColorConfig(const app::ColorGroup& start, int target, const app::AppState& state,
                           QWidget* parent)
    : QDialog(parent), working_(start), target_(target), state_(state) {
  setObjectName(QStringLiteral("ColorConfig"));
  setWindowTitle(L(texts::kColorCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  setFont(f);
  setFixedSize(470, 336);

  auto heading = [this](int i, const char* text, int x, int y) {
    auto* label = new QLabel(L(text), this);
    label->setGeometry(x, y, 130, 18);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    MarkHeading(label);
    Headings[static_cast<size_t>(i)] = label;
  };
  auto button = [this](const char* text, const char* name, QRect place, app::ColorRole role) {
    auto* b = new QPushButton(L(text), this);
    b->setObjectName(L(name));
    b->setGeometry(place);
    connect(b, &QPushButton::clicked, this, [this, role] { ColorButtonClick(role); });
    return b;
  };

  heading(0, texts::kWindowLabel, 16, 10);
  MainBack = button(texts::kBackground, "MainBack", {16, 32, 104, 25}, app::kMainBackground);
  MajorTitles = button(texts::kMajorTitles, "MajorTitles", {16, 60, 104, 25}, app::kMajorTitle);
  MinorTitles = button(texts::kMinorTitles, "MinorTitles", {16, 88, 104, 25}, app::kMinorTitle);

  heading(1, texts::kRadioLabel, 150, 10);
  RadioButton = new QRadioButton(L(texts::kSampleText), this);
  RadioButton->setObjectName(QStringLiteral("RadioButton"));
  RadioButton->setGeometry(150, 32, 130, 22);
  RadioButton->setChecked(true);
  RadioText = button(texts::kText, "RadioText", {150, 60, 46, 25}, app::kRadioText);
  RadioBack = button(texts::kBackground, "RadioBack", {200, 60, 86, 25}, app::kRadioBackground);

  heading(2, texts::kCheckLabel, 310, 10);
  CheckBox = new QCheckBox(L(texts::kSampleText), this);
  CheckBox->setObjectName(QStringLiteral("CheckBox"));
  CheckBox->setGeometry(310, 32, 130, 22);
  CheckBox->setChecked(true);
  CheckText = button(texts::kText, "CheckText", {310, 60, 46, 25}, app::kCheckText);
  CheckBack = button(texts::kBackground, "CheckBack", {360, 60, 86, 25}, app::kCheckBackground);

  heading(3, texts::kEditLabel, 16, 126);
  EditBox = new QLineEdit(L(texts::kSampleText), this);
  EditBox->setObjectName(QStringLiteral("EditBox"));
  EditBox->setGeometry(16, 148, 136, 22);
  EditBoxText = button(texts::kText, "EditBoxText", {16, 176, 46, 25}, app::kEditText);
  EditBoxBack = button(texts::kBackground, "EditBoxBack", {66, 176, 86, 25}, app::kEditBackground);

  heading(4, texts::kComboLabel, 166, 126);
  ComboBox = new QComboBox(this);
  ComboBox->setObjectName(QStringLiteral("ComboBox"));
  ComboBox->addItem(L(texts::kSampleText));
  ComboBox->setGeometry(166, 148, 136, 22);
  ComboText = button(texts::kText, "ComboText", {166, 176, 46, 25}, app::kComboText);
  ComboBack = button(texts::kBackground, "ComboBack", {216, 176, 86, 25}, app::kComboBackground);

  heading(5, texts::kListLabel, 316, 126);
  ListBox = new QListWidget(this);
  ListBox->setObjectName(QStringLiteral("ListBox"));
  ListBox->addItems({L(texts::kSampleText), L(texts::kSampleText)});
  ListBox->setGeometry(316, 148, 136, 48);
  ListText = button(texts::kText, "ListText", {316, 202, 46, 25}, app::kListBoxText);
  ListBack = button(texts::kBackground, "ListBack", {366, 202, 86, 25}, app::kListBoxBackground);

  PresetLabel = new QLabel(L(texts::kPresetLabel), this);
  PresetLabel->setObjectName(QStringLiteral("PresetLabel"));
  PresetLabel->setGeometry(16, 244, 240, 18);
  ColorSets = new QComboBox(this);
  ColorSets->setObjectName(QStringLiteral("ColorSets"));
  ColorSets->addItem(QString());
  for (const char* name : texts::kPresetNames) ColorSets->addItem(L(name));
  ColorSets->setMaxVisibleItems(13);
  ColorSets->setGeometry(16, 266, 200, 24);
  connect(ColorSets, &QComboBox::activated, this, &TColorConfig::ColorSetsChange);

  OkButton = new QPushButton(L(texts::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(270, 296, 88, 27);
  OkButton->setDefault(true);
  connect(OkButton, &QPushButton::clicked, this, &TColorConfig::OkButtonClick);
  CancelButton = new QPushButton(L(texts::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(366, 296, 88, 27);
  connect(CancelButton, &QPushButton::clicked, this, &TColorConfig::CancelButtonClick);
}

void TColorConfig::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TColorConfig::FormShow() {
  forms::ApplyUserFonts(this, state_.fonts);
  KeepHeadingsBold(Headings);
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::MoveUpTenPixels(this);
  SetColors();
}

void TColorConfig::SetColors() {
  PaintByConvention(this, working_);
}

void TColorConfig::ColorButtonClick(app::ColorRole role) {
  const std::optional<QColor> chosen =
      platform::prompts().ChooseColor(this, working_[static_cast<size_t>(role)]);
  if (!chosen || !chosen->isValid()) return;
  working_[static_cast<size_t>(role)] = chosen->toRgb();
  SetColors();
}

void TColorConfig::ColorSetsChange(int entry) {
  if (entry < 1 || entry > kColorPresetCount) return;
  ApplyColorPreset(entry, working_);
  SetColors();
}

void TColorConfig::OkButtonClick() {
  accept();
}

void TColorConfig::CancelButtonClick() {
  reject();
}

bool DoColorConfig(app::AppState& state, int target, QWidget* owner) {
  TColorConfig dialog(StartingGroup(state.settings, target), target, state, owner);
  if (dialog.exec() != QDialog::Accepted) return false;
  return StoreColorGroup(state.settings, target, dialog.working());
}

}  // namespace klv::appearance
