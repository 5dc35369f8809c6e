// A collection database in a temporary directory with the state, the table
// and the pick lists the record edit form and the list dialogs work on.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include "app/AppState.h"
#include "app/Formats.h"
#include "db/DbFiles.h"
#include "db/FieldTable.h"
#include "db/PickLists.h"
#include "db/dbf/Table.h"
#include "support/QtText.h"
#include "support/TempDir.h"

namespace klv::test {

// Writes lines to path with CR LF, as the list files are written.
inline void WriteLines(const QString& path, const QStringList& lines) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  for (const QString& line : lines) f.write(line.toUtf8() + "\r\n");
}

inline QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

class EditDatabase {
  // First, so that it goes last: the table closes before its files go.
  TempDir dir_;
  std::string program_;
  std::string data_;

 public:
  EditDatabase() {
    program_ = dir_.path() + "/prog";
    data_ = dir_.path() + "/data";
    std::filesystem::create_directories(program_);
    std::filesystem::create_directories(data_);
    state.program_dir = Q(program_);
    state.windows_dir = Q(program_);
    state.start_dir = Q(dir_.path());
    state.files.program_ini = Q(program_ + "/KLVCOIN.INI");
    state.files.start_dir = state.start_dir;
    UseDatabase("COINS");
    SetFormats(7, false, 1, 1, platform::IntlSettings{});
  }

  // Creates (when missing) and names the database data/<name>.DBF; the
  // table is not opened.
  QString UseDatabase(const std::string& name) {
    const QString path = Q(data_ + "/" + name + ".DBF");
    if (!QFile::exists(path)) {
      EXPECT_TRUE(db::MakeNewDB(path));
    }
    state.database_name = path;
    state.paths = db::DatabasePaths::From(path);
    return path;
  }

  void OpenTable() {
    table.Close();
    table.SetDirectory(data_);
    table.SetTableName(state.paths.table_name.toStdString());
    table.Open();
  }

  // Date format 1 to 12, "Currency Format" and "Numeric Format" 1 or 2, and
  // the Windows international values.
  void SetFormats(int date_format, bool leading_zeros, int currency, int numeric,
                  const platform::IntlSettings& intl) {
    state.settings.date_format = date_format;
    state.settings.date_leading_zeros = leading_zeros;
    state.settings.currency_format = currency;
    state.settings.numeric_format = numeric;
    state.intl = intl;
    state.formats = app::MakeNumberFormats(state.settings, intl);
    table.SetTextFormat(app::MakeTextFormat(date_format, leading_zeros, state.formats));
  }

  // A row written straight into the table, as another form would.
  void AddRow(const std::string& country, const std::string& face_value, double price = 0) {
    table.Append();
    table.FieldByName("Country").SetAsString(country);
    table.FieldByName("FaceValue").SetAsString(face_value);
    table.FieldByName("PurchasePr").SetAsFloat(price);
    table.FieldByName("Quantity").SetAsInteger(1);
    table.FieldByName("Wanted").SetAsString("No");
    table.FieldByName("YearApprox").SetAsString("No");
    table.Post();
  }

  // A second, independent open of the database, as another copy of the
  // program has it.
  std::unique_ptr<dbf::Table> OpenOther() const {
    auto other = std::make_unique<dbf::Table>();
    other->SetDirectory(data_);
    other->SetTableName(state.paths.table_name.toStdString());
    other->Open();
    return other;
  }

  QString ProgramFile(const char* name) const { return Q(program_ + "/" + name); }
  QString DataFile(const std::string& name) const { return Q(data_ + "/" + name); }
  const std::string& data_dir() const { return data_; }

  app::AppState state;
  dbf::Table table;
};

}  // namespace klv::test
