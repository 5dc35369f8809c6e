// The files of one collection database and the tests and repairs made on
// them before it is opened: creating an empty coin table, the validity test,
// the exclusive-use test, clearing the production-index flag, and the
// recent-files list.
#pragma once

#include <array>

#include <QString>

class QWidget;

namespace klv::db {

// Paths derived from a database's .DBF path: all share the directory and the
// table name (the file name up to its first ".").
struct DatabasePaths {
  QString dir;         // with trailing '/'
  QString table_name;  // e.g. "MASTER"
  QString dbf;         // the path as given, expanded to a full path
  QString mdx;         // dir + table_name + ".MDX", or the existing file of that name in any case
  QString ini;         // dir + table_name + ".INI", likewise
  QString base;        // dir + table_name: the pick lists are base + ".001" .. ".003"

  static DatabasePaths From(const QString& path);
};

// Whether path names a dBase table by its extension (".DBF" in any case).
bool HasDbfExtension(const QString& path);

// Creates an empty coin table (20 fields, no rows, no index) at path,
// replacing a file there unless another program holds it, which is reported
// in an error box. Returns whether a file now exists at path. Engine errors
// while creating propagate as klv::dbf::DbfError.
bool MakeNewDB(const QString& path);

// Whether path is a coin table: exactly the 20 fields by name, in order
// (types and widths are not examined). A table whose .MDX is missing has its
// production-index flag cleared first. Shows the error box itself when the
// table is not valid. Engine errors (not a dBase file, damaged) propagate.
bool CheckDBaseFormat(QWidget* owner, const QString& path);

// True when another program or copy holds the table, so that it cannot be
// opened for exclusive use. Shows nothing.
bool DBaseInUse(const QString& path);

// Sets byte 28 of the .DBF header (the production-index flag) to 0. Does
// nothing, silently, when the file cannot be opened for writing or is not a
// dBase table (its bytes are never changed then).
void RemoveMDXByte(const QString& path);

// The five most recent databases; entry 0 is the most recent.
using RecentFiles = std::array<QString, 5>;
// Records a switch from previous to next: an entry equal to next (exact,
// case-sensitive) is removed, the others move down and previous goes first.
void DoLastFiles(RecentFiles& list, const QString& previous, const QString& next);

}  // namespace klv::db
