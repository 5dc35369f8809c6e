// Where the program keeps its files on this system, and the lookup of
// companion files whose names may differ in letter case.
//
// - Program directory (the default database, the report definitions file, the
//   pick-list files, older tables): $KLVCOIN_HOME, else $XDG_DATA_HOME/klvcoin,
//   else ~/.local/share/klvcoin.
// - Windows directory (the program settings file, WIN.INI): $KLVCOIN_WINDIR,
//   else $XDG_CONFIG_HOME/klvcoin, else ~/.config/klvcoin.
// - Start directory: the current directory when the program started.
// - Shipped files (the help file, the default pick lists, the sample
//   collection): beside the running program in a build, else in
//   ../share/klvcoin from it, where an installed program has them
//   (/usr/bin/klvcoin finds /usr/share/klvcoin).
//
// Directories are absolute and clean, without a trailing '/' except the root
// "/" itself. An empty variable counts as unset; a relative $XDG_* value is
// ignored (the XDG rule), a relative $KLVCOIN_* value is taken from the
// current directory.
#pragma once

#include <QString>
#include <QStringList>

namespace klv::platform {

struct Directories {
  QString program;
  QString windows;
  QString start;
};

// Reads the environment and the current directory; creates nothing.
Directories LocateDirectories();

// The directories the program's shipped files are looked for in, in that
// order: the running program's own directory, then ../share/klvcoin from it.
// Needs the application object.
QStringList ShippedFileDirectories();

// The first of ShippedFileDirectories() holding a file named name (letter
// case aside), or "" when none does.
QString ShippedFilesDir(const QString& name);

// Creates dir and its missing parents. Returns false, with the reason in
// *error when given, when it cannot or when something that is not a directory
// is in the way.
bool EnsureDirectory(const QString& dir, QString* error = nullptr);

// The path without trailing '/' characters; "/" stays "/".
QString WithoutTrailingSlash(const QString& path);

// The existing regular file in dir named name without regard to letter case
// (the exact spelling preferred), or "" when there is none. dir may end in
// '/' or not; "" means the current directory.
QString FindFileNoCase(const QString& dir, const QString& name);

// The path to use for the companion file name in dir: the existing file of
// any letter case when there is one, else dir + "/" + name as spelled, so a
// file copied from another system is found and a new one gets the
// program's spelling.
QString CompanionFile(const QString& dir, const QString& name);

}  // namespace klv::platform
