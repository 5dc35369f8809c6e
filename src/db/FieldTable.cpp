#include "db/FieldTable.h"

namespace klv::db {

const std::array<FieldInfo, kFieldCount + 1> FieldTable = {{
    {"", ' ', 0, 0, FieldKind::kText, 0, ""},
    {"Country", 'C', 20, 0, FieldKind::kText, 1, "Country"},
    {"FaceValue", 'C', 20, 0, FieldKind::kText, 0, "Face Value"},
    {"Year", 'C', 7, 0, FieldKind::kText, 0, "Year"},
    {"Condition", 'C', 30, 0, FieldKind::kText, 1, "Condition"},
    {"MintMark", 'C', 3, 0, FieldKind::kText, 0, "Mint Mark"},
    {"PurchasePr", 'N', 12, 2, FieldKind::kDecimal, 0, "Purchase Price"},
    {"MarketValu", 'N', 12, 2, FieldKind::kDecimal, 0, "Market Value"},
    {"PremiumVal", 'N', 12, 2, FieldKind::kDecimal, 0, "Premium Value"},
    {"Topic", 'C', 20, 0, FieldKind::kText, 1, "Topic"},
    {"Descriptio", 'C', 40, 0, FieldKind::kText, 0, "Description"},
    {"PurchDate", 'D', 10, 0, FieldKind::kDate, 0, "Purch Date"},
    {"Miscellane", 'C', 110, 0, FieldKind::kText, 0, "Miscellaneous"},
    {"Quantity", 'N', 5, 0, FieldKind::kWhole, 0, "Quantity"},
    {"Comment", 'C', 80, 0, FieldKind::kText, 0, "Comment"},
    {"YearApprox", 'C', 5, 0, FieldKind::kText, 1, "Approx Year"},
    {"Wanted", 'C', 3, 0, FieldKind::kText, 1, "Wanted"},
    {"UserDef1", 'C', 40, 0, FieldKind::kText, 0, "User Defined 1"},
    {"UserDef2", 'C', 40, 0, FieldKind::kText, 0, "User Defined 2"},
    {"UserDef3", 'C', 40, 0, FieldKind::kText, 0, "User Defined 3"},
    {"UserDef4", 'C', 40, 0, FieldKind::kText, 0, "User Defined 4"},
}};

std::vector<dbf::FieldDef> CoinFieldDefs() {
  std::vector<dbf::FieldDef> defs;
  for (int i = 1; i <= kFieldCount; ++i) {
    const FieldInfo& f = FieldTable[static_cast<size_t>(i)];
    dbf::FieldDef d;
    d.name = std::string(f.name);
    switch (f.kind) {
      case FieldKind::kText:
        d.type = 'C';
        d.length = f.width;
        break;
      case FieldKind::kWhole:
        d.type = 'N';
        d.length = 11;
        d.decimals = 0;
        break;
      case FieldKind::kDecimal:
        d.type = 'N';
        d.length = 15;
        d.decimals = 2;
        break;
      case FieldKind::kDate:
        d.type = 'D';
        d.length = 8;
        break;
    }
    defs.push_back(d);
  }
  return defs;
}

}  // namespace klv::db
