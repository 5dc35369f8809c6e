// The coin table: its 20 fields in their fixed order, the static field table
// every part of the program consults, and the field definitions a new coin
// table is created with.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "db/dbf/Table.h"

namespace klv::db {

enum class FieldKind : uint8_t { kText = 1, kWhole = 2, kDecimal = 3, kDate = 4 };

struct FieldInfo {
  std::string_view name;  // as created, mixed case; also the settings key
  char letter;            // dBase letter shown to other parts: 'C', 'N', 'D'
  int32_t width;          // display, search and export width
  int32_t decimals;
  FieldKind kind;
  uint8_t value_list;        // 1 = the search form offers a fixed list of values
  std::string_view caption;  // default label
};

constexpr int kFieldCount = 20;

// Indexed 1 to 20 in field order; entry 0 is unused so that field numbers
// index it directly.
extern const std::array<FieldInfo, kFieldCount + 1> FieldTable;
inline const FieldInfo& FieldInfoOf(int field) {
  return FieldTable[static_cast<size_t>(field)];
}

// Field numbers, 1-based, in table order.
enum FieldNo : int {
  kCountry = 1,
  kFaceValue,
  kYear,
  kCondition,
  kMintMark,
  kPurchasePr,
  kMarketValu,
  kPremiumVal,
  kTopic,
  kDescriptio,
  kPurchDate,
  kMiscellane,
  kQuantity,
  kComment,
  kYearApprox,
  kWanted,
  kUserDef1,
  kUserDef2,
  kUserDef3,
  kUserDef4
};

// The dBase definitions of a new coin table. Text fields take their width;
// the numeric and date fields take widths chosen so that every value the
// program accepts round-trips: money as N(15,2) (twelve typed digits plus
// the point and two decimals), the quantity as N(11,0) (any 32-bit whole
// number), the purchase date as D(8).
std::vector<dbf::FieldDef> CoinFieldDefs();

}  // namespace klv::db

// The engine's command-line tool, benchmarks and tests make coin tables too.
namespace klv {
using db::CoinFieldDefs;
using db::FieldTable;
using db::kFieldCount;
}  // namespace klv
