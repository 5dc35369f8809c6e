// The report fonts form (TReportFonts): the four font slots of a definition
// the designer edits (titles, column headers, body, footnotes), each shown as
// its name, a blank, its size and "pt", with a "New Font" button that opens
// the font dialog preset with the slot's font and then the colour dialog
// preset with its colour (the font dialog offers no colour). A chosen font
// sets the slot's name (cut to 50 characters), size and four styles; a
// chosen colour its colour; a cancelled dialog changes nothing of its part.
// The form works on the definition it is given, so the designer sees every
// change when it closes.
#pragma once

#include <array>

#include <QDialog>

#include "app/AppState.h"
#include "report/ReportDef.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace klv::report {

// A report font as a Qt font for the font dialog, and back. FromQFont keeps
// the slot's colour and, for a font without a point size, its size.
QFont ToQFont(const ReportFont& font);
void TakeQFont(ReportFont& slot, const QFont& font);
// Windows RGB values (0x00BBGGRR) and Qt colours.
QColor ToQColor(int32_t rgb);
int32_t ToWindowsRgb(const QColor& color);

class TReportFonts : public QDialog {
  Q_OBJECT

 public:
  enum Slot { kTitles, kColumnHeader, kBody, kFootnote, kSlotCount };

  TReportFonts(QWidget* parent, const app::AppState& state, ReportDef& def);

  ReportFont& SlotFont(int slot);
  // The font dialogs for one slot, as its "New Font" button opens them.
  void NewFontClick(int slot);
  void CloseButtonClick();
  void SetColors();

  // The controls, one row per slot.
  std::array<QLabel*, kSlotCount> FontLabels{};
  std::array<QLineEdit*, kSlotCount> FontTexts{};
  std::array<QPushButton*, kSlotCount> NewFontButtons{};
  QPushButton* CloseButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowFontTexts();

  const app::AppState& state_;
  ReportDef& def_;
  bool shown_ = false;
};

}  // namespace klv::report
