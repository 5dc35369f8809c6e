// The fixed coin collection of the report tests (tests/data/report-coins.csv,
// 40 coins of six countries) written into a coin table, and the table's
// sort order set as the program sets it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <QString>

#include "db/dbf/Table.h"
#include "support/TempDir.h"

namespace klv::report::test {

// The rows of the CSV file: a header line of field names, then one coin a
// line; dates YYYY-MM-DD.
std::vector<std::vector<std::string>> ReadCoinCsv(const std::string& path);
// A coin table dir/name holding the rows (record numbers in file order).
void WriteCoinTable(const std::string& path, const std::vector<std::vector<std::string>>& rows);
// Opens dir/name shared, ordered by the sort levels (the index "NewIndex").
void OpenSorted(dbf::Table& table, const std::string& dir, const std::string& name,
                const std::array<int, 4>& levels);

}  // namespace klv::report::test
