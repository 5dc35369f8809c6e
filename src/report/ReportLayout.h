// The columns of a report line as a run prints them.
//
// A definition gives each item of a line a width in characters; the texts
// printed in it are as wide as their font makes them, and a proportional
// font's "Comment:" or "1893" may not fit the share of the page that many
// characters get. So every line is fitted once per run, before its first
// row: each item at least as wide as the widest text it can show (a label
// its text, a field the widest value it can hold, a filler nothing), the
// room taken first from what the line leaves free up to the report's width,
// then from items wider than they need, and last from fillers. A line whose
// items all fit as defined, within the report's width, keeps the widths it
// was given. The stored definition is never changed.
#pragma once

#include <vector>

#include <QString>

#include "app/Formats.h"
#include "db/dbf/Table.h"
#include "report/ReportDef.h"

namespace klv::report {

// The field a record line's item shows: its number, or for an item whose
// number was lost (converted definitions) the field its name names; 0 for
// none.
int FieldOfItem(const ReportItem& item);

// Whether an item shows a number: a numeric field of a record line, or any
// field of the totals line.
bool ShowsNumber(const ReportItem& item, bool totals_line);

// The widest text an item can show, as printed: a label's text; a character
// field as many digits as the field holds characters (a digit is as wide as
// ordinary text of the fonts reports use, capitals aside); an amount or a
// quantity the widest value the record form lets be typed, formatted; a date
// in the widest form the date format gives; on the totals line the totals
// field's as its table field's. Empty for a filler and an unknown field.
QString WidestText(const ReportItem& item, bool totals_line, const app::NumberFormats& formats,
                   const dbf::TextFormat& dates);

// The fitting described above, in any unit: widths and needs per item,
// fillers marking the filler items, total the room of the line. When even
// the needs do not fit in total, every width is scaled down to fill total
// exactly (the texts then print narrowed).
std::vector<double> FitWidths(const std::vector<double>& widths, const std::vector<double>& needs,
                              const std::vector<bool>& fillers, double total);
// The same in whole characters, for the text file, where a narrowed text
// does not exist: when the needs do not fit in total, every item keeps its
// need and the line is longer than total.
std::vector<int> FitCharWidths(const std::vector<int>& widths, const std::vector<int>& needs,
                               const std::vector<bool>& fillers, int total);

}  // namespace klv::report
