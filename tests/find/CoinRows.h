// Coin tables for the finding tests: rows described as plain values, written
// through the engine into a new coin table in a temporary directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "support/TempDir.h"

namespace klv::find::test {

struct CoinRow {
  std::string country, year, topic, comment, mint;
  std::optional<double> price;   // PURCHASEPR; nullopt: blank
  std::optional<double> market;  // MARKETVALU
  std::optional<long> quantity;  // QUANTITY
  dbf::Date bought;              // PURCHDATE; null: blank
};

// A coin table "COINS.DBF" holding rows in order (record numbers 1, 2, ...),
// left open on table, exclusively when asked.
inline void MakeCoinTable(const klv::test::TempDir& dir, const std::vector<CoinRow>& rows,
                          dbf::Table& table, bool exclusive = false) {
  dbf::Table::CreateTable(dir.File("COINS.DBF"), CoinFieldDefs());
  table.SetDirectory(dir.path());
  table.SetTableName("COINS.DBF");
  table.SetExclusive(exclusive);
  table.Open();
  for (const CoinRow& r : rows) {
    table.Append();
    table.FieldByName("Country").SetAsString(r.country);
    table.FieldByName("Year").SetAsString(r.year);
    table.FieldByName("Topic").SetAsString(r.topic);
    table.FieldByName("Comment").SetAsString(r.comment);
    table.FieldByName("MintMark").SetAsString(r.mint);
    if (r.price) table.FieldByName("PurchasePr").SetAsFloat(*r.price);
    if (r.market) table.FieldByName("MarketValu").SetAsFloat(*r.market);
    if (r.quantity) table.FieldByName("Quantity").SetAsInteger(*r.quantity);
    if (!r.bought.IsNull()) table.FieldByName("PurchDate").SetAsDate(r.bought);
    table.Post();
  }
  table.First();
}

// Record numbers of the rows the table shows, walking it from the first.
inline std::vector<uint32_t> Walk(dbf::Table& table) {
  std::vector<uint32_t> out;
  for (table.First(); !table.Eof(); table.Next()) out.push_back(table.RecNo());
  return out;
}

}  // namespace klv::find::test
