// The pick lists: the values offered for Country, Topic and Condition, kept
// per collection database in the list files base + ".001" .. ".003", with
// default files in the program directory for new databases, and the
// Miscellaneous phrases ("MISC.LST", one list for all databases).
//
// Each field list lives twice, as the program shows it in two places: the
// record edit form's combo box and the viewer grid's in-cell combo box. The
// two copies are separate models, loaded together, extended together and
// replaced together; what is saved is the edit form's copy. Neither copy
// sorts itself: entries keep file order and new ones go to the end.
//
// List files are plain text, one entry per line, lines ended by CR LF.
// Reading cuts the blanks around every line and skips empty lines; writing
// puts each entry on its own line as it stands. Files written on Windows are
// in Windows-1252: a file that is not valid UTF-8 is read as Windows-1252,
// and a list is written in Windows-1252 whenever all its entries fit that
// code page and those bytes do not also read as UTF-8 (UTF-8 otherwise), so
// lists move between systems unchanged.
//
// A list file that cannot be opened reads as an empty list and one that
// cannot be created is skipped, both silently; an error after a file was
// opened is reported to the user as an input/output error, and the list keeps
// what was read up to then.
#pragma once

#include <functional>

#include <QByteArray>
#include <QString>
#include <QStringList>

class QObject;
class QStringListModel;
class QWidget;

namespace klv::db {

// The four lists, numbered as the list editor numbers its kinds.
enum class ListKind : int { kCountry = 1, kTopic = 2, kCondition = 3, kMiscellaneous = 4 };

// What each list is: the coin table field it belongs to (1 to 20; 0 for
// kMiscellaneous), its name in the list editor's caption, the longest entry
// the editor takes, and its default file in the program directory.
struct ListInfo {
  int field;
  const char* name;
  int max_length;
  const char* default_file;
};
const ListInfo& InfoOf(ListKind kind);
inline int FieldOfList(ListKind kind) {
  return InfoOf(kind).field;
}

// Cuts the blanks (and other control characters) off both ends of text, as
// every field and list entry is trimmed before it is compared or stored.
QString TrimBlanks(const QString& text);

// A list file's bytes as entries, read as ReadListFile reads a file, and
// entries as the bytes WriteListFile writes; the file functions wrap these.
QStringList ParseListBytes(const QByteArray& bytes);
QByteArray ListFileBytes(const QStringList& entries);

// Reads a list file: trimmed lines, empty ones skipped. A file that cannot be
// opened gives an empty list; a read error after opening is reported and
// gives the lines read before it.
QStringList ReadListFile(const QString& path);
// Writes entries to path, one per line with CR LF, replacing the file as a
// whole (a failed write leaves the old file). Returns false when the file
// cannot be created (silently) or written (reported).
bool WriteListFile(const QString& path, const QStringList& entries);

// Copies each default list file (COUNTRY.LST, TOPIC.LST, CONDTION.LST,
// MISC.LST) from source_dir into program_dir when program_dir has no file of
// that name in any letter case; a user's own lists are never replaced.
// Returns the number of files copied.
int InstallDefaultLists(const QString& program_dir, const QString& source_dir);
// Where the program's own default lists are: beside the running program (a
// build) or in ../share/klvcoin from it (an installed program); "" when
// neither holds them.
QString DefaultListSourceDir();

class PickLists {
 public:
  // program_dir: where the default lists and MISC.LST live. base: the open
  // database's base path (directory + table name, no extension); may be set
  // later with SetDatabaseBase.
  explicit PickLists(QString program_dir, QString base = {});
  ~PickLists();
  PickLists(const PickLists&) = delete;
  PickLists& operator=(const PickLists&) = delete;

  const QString& program_dir() const { return program_dir_; }
  void SetProgramDir(const QString& dir) { program_dir_ = dir; }
  // The database the lists belong to: SaveAllLists writes to its files, so
  // set it only when loading another database's lists (or the defaults for a
  // new one), never between loading and saving.
  const QString& database_base() const { return base_; }
  void SetDatabaseBase(const QString& base) { base_ = base; }

  // The edit form's copy and the viewer grid's copy of a field list
  // (kCountry, kTopic or kCondition). Owned by this object; views take them
  // with setModel and must not insert into them themselves.
  QStringListModel* FormModel(ListKind kind) const;
  QStringListModel* GridModel(ListKind kind) const;
  QStringList FormList(ListKind kind) const;
  QStringList GridList(ListKind kind) const;
  // Calls changed with the kind and the items whenever the grid's copy of a
  // field list changes (loaded, extended, replaced), for a grid that keeps
  // the items itself, until context is destroyed. Calls it once for each
  // list right away.
  void OnGridListChanged(QObject* context,
                         std::function<void(ListKind, const QStringList&)> changed);

  // The files: base + ".001" .. ".003" (an existing file of that name in any
  // letter case is used), and the default files of the program directory.
  QString DatabaseFile(ListKind kind) const;
  QString DefaultFile(ListKind kind) const;  // also kMiscellaneous

  // Empties both copies of kind, then fills both with the file's entries.
  void LoadList(const QString& path, ListKind kind);
  // Writes the edit form's copy of kind to path.
  void SaveList(const QString& path, ListKind kind) const;
  // The open database's three lists, or all three defaults when its Country
  // file (".001") is missing. A missing ".002" or ".003" gives an empty list.
  void LoadAllList();
  void LoadDefaultList();
  // The three lists to the open database's files / to the default files.
  void SaveAllLists() const;
  void SaveDefaultLists() const;

  // Adds the trimmed text at the end of the form's (AddToList) or the grid's
  // (AddToListTwwDB) copy unless it is empty or already there exactly (case
  // and all). Returns whether it was added.
  bool AddToList(ListKind kind, const QString& text);
  bool AddToListTwwDB(ListKind kind, const QString& text);

  // Replaces both copies of a field list (the list editor's Ok).
  void Replace(ListKind kind, const QStringList& entries);

  // The database switch: saves the lists of the database being left, takes
  // the new base path and loads the new database's lists, or the default
  // lists for a database just created (whose files its first SaveAllLists
  // writes).
  void SwitchDatabase(const QString& new_base, bool new_database);

 private:
  static int Slot(ListKind kind);
  QString program_dir_;
  QString base_;
  QStringListModel* form_[3];
  QStringListModel* grid_[3];
};

}  // namespace klv::db
