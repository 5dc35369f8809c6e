#include "db/DbFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "base/Env.h"
#include "db/DbTexts.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/PictureStore.h"
#include "platform/Prompts.h"

namespace klv::db {
namespace {

std::string Local(const QString& s) {
  return s.toStdString();
}

// Binds a table to a path's directory and table name.
void Bind(dbf::Table& t, const DatabasePaths& p) {
  t.SetDirectory(Local(p.dir));
  t.SetTableName(Local(QFileInfo(p.dbf).fileName()));
}

QString Companion(const QString& dir, const QString& name) {
  std::string found = dbf::FindFileNoCase(Local(dir), Local(name));
  return found.empty() ? dir + name : QString::fromStdString(found);
}

}  // namespace

DatabasePaths DatabasePaths::From(const QString& path) {
  DatabasePaths p;
  QFileInfo info(path);
  p.dbf = info.absoluteFilePath();
  p.dir = info.absolutePath();
  if (!p.dir.endsWith('/')) p.dir += '/';
  QString name = info.fileName();
  int dot = name.indexOf('.');
  p.table_name = dot < 0 ? name : name.left(dot);
  p.base = p.dir + p.table_name;
  p.mdx = Companion(p.dir, p.table_name + ".MDX");
  p.ini = Companion(p.dir, p.table_name + ".INI");
  return p;
}

bool MakeNewDB(const QString& path) {
  if (QFileInfo::exists(path) && DBaseInUse(path)) {
    platform::prompts().MessageBox(
        nullptr, texts::kCaptionError,
        QString(texts::kTableInUse1) + '"' + path + '"' + texts::kTableInUse2,
        platform::MsgIcon::kError, platform::MsgButtons::kOk, platform::MsgButton::kOk);
    return false;
  }
  dbf::Table::CreateTable(Local(DatabasePaths::From(path).dbf), CoinFieldDefs());
  // A new database starts with no pictures; those of a table it replaces
  // are kept aside.
  pictures::SetAsideFolder(Local(DatabasePaths::From(path).dbf));
  return QFileInfo::exists(path);
}

bool CheckDBaseFormat(QWidget* owner, const QString& path) {
  DatabasePaths p = DatabasePaths::From(path);
  if (!QFileInfo::exists(p.mdx)) RemoveMDXByte(p.dbf);
  bool valid = false;
  {
    dbf::Table check;  // MyCheckTable
    Bind(check, p);
    check.SetReadOnly(true);
    check.Open();
    valid = check.FieldCount() == kFieldCount;
    for (int i = 0; valid && i < kFieldCount; ++i) {
      valid =
          QString::fromStdString(check.Fields(i).name()).toUpper() ==
          QString::fromLatin1(FieldTable[static_cast<size_t>(i + 1)].name.data(),
                              static_cast<int>(FieldTable[static_cast<size_t>(i + 1)].name.size()))
              .toUpper();
    }
  }
  if (!valid) {
    platform::prompts().MessageBox(owner, texts::kCaptionError, texts::kNotACoinTable,
                                   platform::MsgIcon::kError, platform::MsgButtons::kOk,
                                   platform::MsgButton::kOk);
  }
  return valid;
}

bool DBaseInUse(const QString& path) {
  DatabasePaths p = DatabasePaths::From(path);
  dbf::Table check;
  Bind(check, p);
  check.SetExclusive(true);
  try {
    check.Open();
  } catch (const dbf::DbfError& e) {
    // Only a lock held elsewhere means "in use"; a damaged or stale index
    // does not, the exclusive open itself succeeded as far as locks go.
    return e.code() == dbf::ErrorCode::kInUse;
  }
  check.Close();
  return false;
}

void RemoveMDXByte(const QString& path) {
  try {
    dbf::Table::RemoveIndexFlag(dbf::Env::Default(), QFile::encodeName(path).toStdString());
  } catch (const dbf::DbfError&) {
    // Nothing is reported, by design: the open that follows tells.
  }
}

void DoLastFiles(RecentFiles& list, const QString& previous, const QString& next) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == next) {
      for (size_t j = i; j + 1 < list.size(); ++j) list[j] = list[j + 1];
      list.back().clear();
      break;
    }
  }
  for (size_t i = list.size() - 1; i > 0; --i) list[i] = list[i - 1];
  list[0] = previous;
}

bool HasDbfExtension(const QString& path) {
  return path.right(4).toUpper() == QLatin1String(".DBF");
}

}  // namespace klv::db
