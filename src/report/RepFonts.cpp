#include "report/RepFonts.h"

#include <cmath>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace t = report::texts;
using platform::prompts;

QFont ToQFont(const ReportFont& font) {
  QFont f(font.name);
  if (font.size > 0) f.setPointSize(font.size);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  f.setUnderline(font.underline);
  f.setStrikeOut(font.strikeout);
  return f;
}

void TakeQFont(ReportFont& slot, const QFont& font) {
  slot.name = font.family().left(50);
  if (font.pointSizeF() > 0) slot.size = static_cast<int16_t>(std::lround(font.pointSizeF()));
  slot.bold = font.bold();
  slot.italic = font.italic();
  slot.underline = font.underline();
  slot.strikeout = font.strikeOut();
}

QColor ToQColor(int32_t rgb) {
  const auto v = static_cast<uint32_t>(rgb);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF));
}

int32_t ToWindowsRgb(const QColor& color) {
  return static_cast<int32_t>(static_cast<uint32_t>(color.red()) |
                              static_cast<uint32_t>(color.green()) << 8 |
                              static_cast<uint32_t>(color.blue()) << 16);
}

TReportFonts::TReportFonts(QWidget* parent, const app::AppState& state, ReportDef& def)
    : QDialog(parent), state_(state), def_(def) {
  setObjectName(QStringLiteral("ReportFonts"));
  setWindowTitle(QString::fromLatin1(t::kReportFontsCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  const char* labels[kSlotCount] = {t::kTitlesFont, t::kColumnHeaderFont, t::kReportBodyFont,
                                    t::kFootnoteFont};
  const char* names[kSlotCount] = {"Titles", "ColumnHeader", "ReportBody", "Footnote"};
  for (int i = 0; i < kSlotCount; ++i) {
    const int top = 12 + i * 48;
    auto* label = new QLabel(QString::fromLatin1(labels[i]), this);
    label->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Label"));
    label->setGeometry(12, top, 300, 16);
    auto* text = new QLineEdit(this);
    text->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Font"));
    text->setReadOnly(true);
    text->setGeometry(12, top + 18, 260, 24);
    auto* button = new QPushButton(QString::fromLatin1(t::kNewFontButton), this);
    button->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Button"));
    button->setGeometry(282, top + 17, 90, 26);
    connect(button, &QPushButton::clicked, this, [this, i] { NewFontClick(i); });
    FontLabels[static_cast<size_t>(i)] = label;
    FontTexts[static_cast<size_t>(i)] = text;
    NewFontButtons[static_cast<size_t>(i)] = button;
  }
  CloseButton = new QPushButton(QString::fromLatin1(t::kCloseButton), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setGeometry(147, 210, 90, 27);
  CloseButton->setDefault(true);
  connect(CloseButton, &QPushButton::clicked, this, &TReportFonts::CloseButtonClick);
  resize(384, 248);
  ShowFontTexts();
}

ReportFont& TReportFonts::SlotFont(int slot) {
  switch (slot) {
    case kTitles:
      return def_.titles_font;
    case kColumnHeader:
      return def_.header_font;
    case kBody:
      return def_.body_font;
    default:
      return def_.footnote_font;
  }
}

void TReportFonts::NewFontClick(int slot) {
  ReportFont& f = SlotFont(slot);
  // The colour is asked only after a font was chosen: Cancel in the font
  // dialog changes nothing, Cancel in the colour dialog keeps the colour.
  const std::optional<QFont> chosen = prompts().ChooseFont(this, ToQFont(f));
  if (!chosen) return;
  TakeQFont(f, *chosen);
  if (const std::optional<QColor> color = prompts().ChooseColor(this, ToQColor(f.color));
      color && color->isValid())
    f.color = ToWindowsRgb(*color);
  ShowFontTexts();
}

void TReportFonts::CloseButtonClick() {
  accept();
}

void TReportFonts::ShowFontTexts() {
  for (int i = 0; i < kSlotCount; ++i)
    FontTexts[static_cast<size_t>(i)]->setText(FontText(SlotFont(i)));
}

void TReportFonts::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TReportFonts::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::ScaleAndCentre(this, state_.scale_factor);
    SetColors();
  }
  QDialog::showEvent(event);
}

}  // namespace klv::report
