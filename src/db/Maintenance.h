// Keeping the open coin table healthy: Pack Database (rows marked deleted
// removed from the file), Rebuild Indexes (the production index built again
// from the rows), Recall Deleted Rows (deleted rows brought back before a
// pack removes them), and the repair of a table too damaged to open.
//
// The commands need the table to themselves; they get it through an
// ExclusiveUse the caller gives (the open database's), which closes the
// table, opens it exclusively, runs the action and opens it shared again
// whatever happened.
//
// Promises:
// - Pack and Rebuild ask first; when another program or copy holds the
//   table they say so, and the table stays open shared and usable.
// - A failure of the pack or the rebuild itself is reported, not passed as
//   success; the table is open shared afterwards in every case. A pack that
//   fails or is killed leaves the table as it was (the engine packs into a
//   new file renamed into place).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "db/dbf/Table.h"

class QWidget;

namespace klv::db {

// Runs the action with the table opened exclusively and reopens it shared
// afterwards; false (the action not run) when another program holds it. An
// exception of the action propagates after the shared reopen.
using ExclusiveUse = std::function<bool(const std::function<void(dbf::Table&)>& action)>;
// Told of a long operation's progress, 0 to 1.
using Progress = std::function<void(double)>;

// The number of rows marked deleted in the table at dbf_path (read shared,
// without the open table's filter).
uint64_t CountDeletedRows(const QString& dbf_path);

// The commands of the Tools menu. progress may be empty.
void MenuPackClick(QWidget* owner, const QString& dbf_path, const ExclusiveUse& exclusive,
                   const Progress& progress = {});
void MenuRebuildClick(QWidget* owner, const ExclusiveUse& exclusive, const Progress& progress = {});

// One deleted row: its record number and its fields as text, in field order.
struct DeletedRow {
  uint32_t recno = 0;
  QStringList values;
};
// The deleted rows of the table at dbf_path, read with the text format of
// format_of (the open table) and the field names in names.
std::vector<DeletedRow> ListDeletedRows(const QString& dbf_path, const dbf::TextFormat& format,
                                        QStringList* names, const Progress& progress = {});
// Brings the rows back (those still deleted); returns how many came back.
// The open table is refreshed so it shows them.
int RecallRows(const QString& dbf_path, const std::vector<uint32_t>& recnos, dbf::Table& open);

// Whether an engine error at opening the table at dbf_path says that it is
// a damaged dBase table (as opposed to missing, in use, unreadable for want
// of rights, or not a dBase table at all).
bool IsDamage(const dbf::DbfError& error, const QString& dbf_path);
// Offers the repair of the damaged table at dbf_path, saying what is wrong
// (error): Yes salvages it (the original kept aside) and tells how many rows
// were kept. True when the repaired table is in place.
bool OfferRepair(QWidget* owner, const QString& dbf_path, const dbf::DbfError& error);

}  // namespace klv::db
