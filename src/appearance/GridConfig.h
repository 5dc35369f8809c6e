// The viewer configuration without its window: the texts its grids show,
// what a double click and the order buttons do to them, and what closing
// makes of them in the settings.
//
// The grids are held as texts, exactly as the user sees and types them, so
// that closing can be checked and applied whatever was typed.
#pragma once

#include <array>
#include <optional>

#include <QFont>
#include <QString>

#include "app/Settings.h"

namespace klv::appearance {

using app::PerField;

// A font as the dialog shows it: its size, "pt " and its name ("12pt Arial").
QString FontText(const QFont& font);

// The texts of the four field grids. Per-field entries are indexed by field
// number 1 to 20 (entry 0 unused); order holds the captions in display
// order, row 0 first.
struct GridPages {
  PerField<QString> display;  // "Yes" or "No"
  PerField<QString> widths;   // decimal digits as typed
  PerField<QString> names;    // the captions as typed
  std::array<QString, db::kFieldCount> order;
};

// The grids as the dialog opens them: each field's display flag, width and
// caption, and each caption in the order row of its display position (a
// position outside 1 to 20 leaves its caption out).
GridPages FillGridPages(const app::Settings& settings);

// A double click on a display cell: "Yes" becomes "No", anything else "Yes".
QString ToggledDisplay(const QString& cell);

// Swaps order row with the row delta (-1 up, +1 down) away. False, and no
// change, when that row does not exist.
bool MoveOrderRow(std::array<QString, db::kFieldCount>& order, int row, int delta);
// The order rows listing the captions of names in field order ("D&efaults").
std::array<QString, db::kFieldCount> DefaultOrder(const PerField<QString>& names);

// The first caption that equals a later one exactly (case and blanks count),
// in field order; nothing when all differ.
std::optional<QString> FirstDuplicateCaption(const PerField<QString>& names);
// The message for two fields with caption.
QString DuplicateCaptionMessage(const QString& caption);

// A width cell read on closing: blanks cut, a whole number from 1 to 255;
// anything else reads as 10.
int ReadWidth(const QString& cell);

// Closing, once the captions are distinct: widths (invalid cells are set to
// "10" in pages as well), display flags, display positions from the order
// rows matched against the captions in force before this call (a field with
// no matching row keeps its position), then the new captions cut to 20
// characters.
void ApplyGridPages(GridPages& pages, app::Settings& settings);

}  // namespace klv::appearance
