#include "report/ReportCoins.h"

#include <fstream>
#include <stdexcept>

#include "app/OpenDatabase.h"
#include "db/FieldTable.h"

namespace klv::report::test {

std::vector<std::vector<std::string>> ReadCoinCsv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false;
  char c;
  while (in.get(c)) {
    if (quoted) {
      if (c == '"') {
        if (in.peek() == '"') {
          in.get(c);
          cell += '"';
        } else {
          quoted = false;
        }
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(cell);
      cell.clear();
    } else if (c == '\n') {
      row.push_back(cell);
      cell.clear();
      rows.push_back(row);
      row.clear();
    } else {
      cell += c;
    }
  }
  if (!cell.empty() || !row.empty()) {
    row.push_back(cell);
    rows.push_back(row);
  }
  if (!rows.empty()) rows.erase(rows.begin());  // the header line
  return rows;
}

void WriteCoinTable(const std::string& path, const std::vector<std::vector<std::string>>& rows) {
  dbf::Table::CreateTable(path, CoinFieldDefs());
  dbf::Table t;
  const auto slash = path.rfind('/');
  t.SetDirectory(path.substr(0, slash));
  t.SetTableName(path.substr(slash + 1));
  t.SetExclusive(true);
  t.Open();
  for (const auto& row : rows) {
    t.Append();
    for (int f = 1; f <= db::kFieldCount && f <= static_cast<int>(row.size()); ++f) {
      const std::string& v = row[static_cast<size_t>(f - 1)];
      if (v.empty()) continue;
      dbf::Field& field = t.Fields(f - 1);
      if (db::FieldInfoOf(f).kind == db::FieldKind::kDate) {
        field.SetAsDate(dbf::Date{std::stoi(v.substr(0, 4)), std::stoi(v.substr(5, 2)),
                                  std::stoi(v.substr(8, 2))});
      } else if (db::FieldInfoOf(f).letter == 'N') {
        field.SetAsFloat(std::stod(v));
      } else {
        field.SetAsString(v);
      }
    }
    t.Post();
  }
  t.Close();
}

void OpenSorted(dbf::Table& table, const std::string& dir, const std::string& name,
                const std::array<int, 4>& levels) {
  const QString sort = app::BuildSortString(levels);
  {
    dbf::Table t;
    t.SetDirectory(dir);
    t.SetTableName(name);
    t.SetExclusive(true);
    t.Open();
    if (!sort.isEmpty()) t.AddIndex("NewIndex", sort.toStdString());
    t.Close();
  }
  table.SetDirectory(dir);
  table.SetTableName(name);
  table.Open();
  if (!sort.isEmpty()) table.SetIndexName("NewIndex");
  table.First();
}

}  // namespace klv::report::test
