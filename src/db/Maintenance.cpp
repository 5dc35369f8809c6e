#include "db/Maintenance.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include "db/DbTexts.h"
#include "db/dbf/Salvage.h"
#include "pictures/PictureStore.h"
#include "platform/Prompts.h"

namespace klv::db {
namespace {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

using platform::L;

void Bind(dbf::Table& t, const QString& dbf_path) {
  const QFileInfo info(dbf_path);
  t.SetDirectory(info.absolutePath().toStdString());
  t.SetTableName(info.fileName().toStdString());
}

bool Confirm(QWidget* owner, const QString& question) {
  return prompts().MessageBox(owner, L(texts::kCaptionConfirm), question, MsgIcon::kQuestion,
                              MsgButtons::kYesNo, MsgButton::kNo) == MsgButton::kYes;
}

void Error(QWidget* owner, const QString& text) {
  prompts().MessageBox(owner, L(texts::kCaptionError), text, MsgIcon::kError, MsgButtons::kOk,
                       MsgButton::kOk);
}

// The whole-table operation with the table to itself: the in-use message, or
// the failure of the operation, shown; the table is open shared afterwards.
void RunExclusive(QWidget* owner, const ExclusiveUse& exclusive,
                  const std::function<void(dbf::Table&)>& action, const char* in_use,
                  const char* failed) {
  bool ran = false;
  try {
    ran = exclusive(action);
  } catch (const std::exception& e) {
    Error(owner, L(failed) + QString::fromStdString(e.what()));
    return;
  }
  if (!ran) Error(owner, L(in_use));
}

}  // namespace

uint64_t CountDeletedRows(const QString& dbf_path) {
  dbf::Table t;
  Bind(t, dbf_path);
  t.SetReadOnly(true);
  t.Open();
  const uint64_t live = t.RecordCount();
  return t.PhysicalCount() - live;
}

void MenuPackClick(QWidget* owner, const QString& dbf_path, const ExclusiveUse& exclusive,
                   const Progress& progress) {
  QString question = L(texts::kPackQuestion);
  try {
    question += QStringLiteral("\n\n") + L(texts::kPackCount).arg(CountDeletedRows(dbf_path));
  } catch (const dbf::DbfError&) {
    // The count is a courtesy; the pack itself reports what is wrong.
  }
  if (!Confirm(owner, question)) return;
  RunExclusive(
      owner, exclusive, [&](dbf::Table& table) { pictures::PackKeepingPictures(table, progress); },
      texts::kPackInUse, texts::kPackFailed);
}

void MenuRebuildClick(QWidget* owner, const ExclusiveUse& exclusive, const Progress& progress) {
  if (!Confirm(owner, L(texts::kRebuildQuestion))) return;
  RunExclusive(
      owner, exclusive, [&](dbf::Table& table) { table.RegenerateIndexes(progress); },
      texts::kRebuildInUse, texts::kRebuildFailed);
}

std::vector<DeletedRow> ListDeletedRows(const QString& dbf_path, const dbf::TextFormat& format,
                                        QStringList* names, const Progress& progress) {
  dbf::Table t;
  Bind(t, dbf_path);
  t.SetReadOnly(true);
  t.SetTextFormat(format);
  t.Open();
  t.SetShowDeleted(true);
  if (names) {
    names->clear();
    for (int i = 0; i < t.FieldCount(); ++i) *names << QString::fromStdString(t.Fields(i).name());
  }
  std::vector<DeletedRow> rows;
  const double total = std::max<uint32_t>(t.PhysicalCount(), 1);
  uint32_t seen = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    if (progress && (++seen & 0x3FFF) == 0) progress(seen / total);
    if (!t.IsDeleted()) continue;
    DeletedRow row;
    row.recno = t.RecNo();
    for (int i = 0; i < t.FieldCount(); ++i)
      row.values << QString::fromStdString(t.Fields(i).AsString());
    rows.push_back(std::move(row));
  }
  if (progress) progress(1.0);
  return rows;
}

int RecallRows(const QString& dbf_path, const std::vector<uint32_t>& recnos, dbf::Table& open) {
  dbf::Table t;
  Bind(t, dbf_path);
  t.Open();
  t.SetShowDeleted(true);
  int recalled = 0;
  for (uint32_t recno : recnos) {
    if (!t.GoTo(recno) || !t.IsDeleted()) continue;
    t.Recall();
    ++recalled;
  }
  t.Close();
  if (open.IsOpen()) open.Refresh();
  return recalled;
}

bool IsDamage(const dbf::DbfError& error, const QString& dbf_path) {
  if (error.code() != dbf::ErrorCode::kCorruptTable) return false;
  // A file that does not even begin like a dBase table is some other file,
  // not a damaged table.
  QFile file(dbf_path);
  char first = 0;
  if (!file.open(QIODevice::ReadOnly) || !file.getChar(&first)) return false;
  const auto v = static_cast<uint8_t>(first);
  return (v & 0x07) == 0x03 || v == 0x30 || v == 0x31 || v == 0xF5 || v == 0x43 || v == 0xCB ||
         v == 0x04 || v == 0x05;
}

bool OfferRepair(QWidget* owner, const QString& dbf_path, const dbf::DbfError& error) {
  const QString question =
      L(texts::kRepairQuestion).arg(dbf_path, QString::fromStdString(error.what()));
  if (prompts().MessageBox(owner, L(texts::kCaptionError), question, MsgIcon::kWarning,
                           MsgButtons::kYesNo, MsgButton::kNo) != MsgButton::kYes)
    return false;
  dbf::SalvageResult result;
  try {
    result = dbf::Salvage(dbf::Env::Default(), dbf_path.toStdString());
  } catch (const std::exception& e) {
    Error(owner, L(texts::kRepairFailed) + QString::fromStdString(e.what()));
    return false;
  }
  QString done = L(texts::kRepairDone)
                     .arg(result.rows_kept)
                     .arg(result.deleted_kept)
                     .arg(QString::fromStdString(result.kept_dbf));
  if (result.rows_lost > 0) done += L(texts::kRepairLost).arg(result.rows_lost);
  prompts().MessageBox(owner, L(texts::kCaptionNotice), done, MsgIcon::kInformation,
                       MsgButtons::kOk, MsgButton::kOk);
  return true;
}

}  // namespace klv::db
