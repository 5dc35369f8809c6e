// Coin tables for the export and import tests: rows that fill all twenty
// fields with awkward values (quotes, commas, accents, the euro sign, blank
// numbers and dates), the rows of a table as text, and small file helpers.
#pragma once

#include <string>
#include <vector>

#include "app/OpenDatabase.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "support/QtText.h"
#include "support/TempDir.h"

namespace klv::transfer::test {

using Row = std::vector<std::string>;  // the 20 fields' texts, field order

// Text of each field of the coin table, in the table's text format.
inline std::vector<Row> AwkwardRows() {
  std::vector<Row> rows;
  rows.push_back({"C\xC3\xB4te d'Ivoire",
                  "5 \"Francs\", big",
                  "1950",
                  "VF",
                  "D",
                  "12.50",
                  "1234567.89",
                  "",
                  "Ships, sails",
                  "two  blanks  inside",
                  "3/1/2020",
                  std::string(110, 'm'),
                  "3",
                  "\xC3\x9Cn\xC3\xAF \xE2\x82\xAC 100",
                  "Yes",
                  "No",
                  "a",
                  "b\"\"c",
                  "1+2=3",
                  "last"});
  rows.push_back(Row(20, ""));
  rows.push_back({"Peru", "1/2 Sol",          "1931", "",   "", "-0.25", "0.00", "99.99", "",
                  "",     "12/31/1931",       "",     "-7", "", "No",    "Yes",  "",      "",
                  "",     "\xC3\xA9t\xC3\xA9"});
  return rows;
}

// Makes dir/name a coin table holding rows.
inline void WriteCoinTable(const std::string& path, const std::vector<Row>& rows) {
  dbf::Table::CreateTable(path, CoinFieldDefs());
  dbf::Table t;
  t.SetDirectory(dbf::DirOf(path));
  t.SetTableName(dbf::BaseOf(path));
  t.Open();
  for (const Row& r : rows) {
    t.Append();
    for (int i = 0; i < kFieldCount; ++i) t.Fields(i).SetAsString(r[static_cast<size_t>(i)]);
    t.Post();
  }
}

// The rows of an open table, in its order, as their fields' texts.
inline std::vector<Row> RowsOf(dbf::Table& t) {
  std::vector<Row> rows;
  for (t.First(); !t.Eof(); t.Next()) {
    Row r;
    for (int i = 0; i < t.FieldCount(); ++i) r.push_back(t.Fields(i).AsString());
    rows.push_back(r);
  }
  return rows;
}

inline std::vector<Row> RowsOfFile(const std::string& path) {
  dbf::Table t;
  t.SetDirectory(dbf::DirOf(path));
  t.SetTableName(dbf::BaseOf(path));
  t.SetReadOnly(true);
  t.Open();
  t.SetIndexName("");
  return RowsOf(t);
}

// A database of its own (settings, table) in dir.
struct Database {
  Database(const klv::test::TempDir& dir, const std::string& name, const std::vector<Row>& rows,
           base::Env& env = base::Env::Default())
      : db(state, env) {
    state.program_dir = klv::test::Q(dir.path());
    state.windows_dir = klv::test::Q(dir.path());
    state.files.program_ini = klv::test::Q(dir.File("KLVCOIN.INI"));
    state.files.start_dir = klv::test::Q(dir.path());
    WriteCoinTable(dir.File(name), rows);
    db.OpenAtStart(klv::test::Q(dir.File(name)));
    db.MyTable().SetIndexName("");
  }
  std::vector<Row> Rows() { return RowsOf(db.MyTable()); }
  app::AppState state;
  app::OpenDatabase db;
};

inline std::vector<int> Identity() {
  std::vector<int> map;
  for (int f = 1; f <= db::kFieldCount; ++f) map.push_back(f);
  return map;
}

}  // namespace klv::transfer::test
