// The tables of the program's two earlier versions, "C2LOG.DBF" (2.X) and
// "CLOG.DBF" (1.X) in the program directory: recognised by their field
// lists, and their rows copied into the open coin table when the user
// agrees at start-up.
//
// Promises:
// - Recognition never shows a message and never fails: a file that cannot
//   be read as such a table is simply not one.
// - A conversion is all or nothing: the rows go to the coin table as one
//   batch of appends, so when a row cannot be converted or the batch cannot
//   be written, none of the old table's rows stay in the coin table (a retry
//   never doubles them) and the old file is kept. Only a conversion whose
//   rows are all in the coin table deletes the old .DBF (its other files
//   stay).
#pragma once

#include <QString>

#include "db/dbf/Table.h"

class QWidget;

namespace klv::db {

bool CheckDBaseFormatV2(const QString& path);
bool CheckDBaseFormatV1(const QString& path);

// Appends every row of the old table at path to my_table (open). Throws the
// engine's error, or kBadValue for a version 1 purchase date that is no
// date; then my_table holds none of the rows.
void ConvertV2(dbf::Table& my_table, const QString& path);
void ConvertV1(dbf::Table& my_table, const QString& path);

// Looks for both old tables in program_dir and offers to convert each
// ("Convert", Yes and No). A failed conversion shows its error (caption
// "Error") and keeps the old file; the question comes again at the next
// start, as after No.
void CheckForConversion(QWidget* owner, const QString& program_dir, dbf::Table& my_table);

}  // namespace klv::db
