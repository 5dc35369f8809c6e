// The rules of the record edit form's Update, without the form: the checks
// of what the user typed (the date, the three amounts, the quantity, and that
// every text fits the table's code page), which fields of an existing row are
// written (the merge with another copy's changes), and the writing of the
// fields into the row being appended or edited.
//
// Promises:
// - CheckRecord changes nothing; its first fault, in the order date, purchase
//   price, market value, premium value, quantity, texts, is the one reported.
// - FieldsToWrite writes every field when adding. When changing a row it
//   writes a field the user changed, and a field the user left alone only
//   when no other copy of the program changed it since the form was loaded;
//   Quantity and Wanted are one value to the user (Wanted shows quantity 0)
//   and are written or kept together.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <QChar>
#include <QString>

#include "app/Formats.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"

namespace klv::edit {

// One flag per field, indexed by field number 1 to 20 (entry 0 unused).
using FieldFlags = std::array<bool, db::kFieldCount + 1>;

// The text fields the form writes, in the order their code-page fit is
// checked.
inline constexpr std::array<int, 13> kTextFields = {
    db::kCountry,  db::kFaceValue,  db::kYear,       db::kCondition, db::kMintMark,
    db::kTopic,    db::kDescriptio, db::kMiscellane, db::kComment,   db::kUserDef1,
    db::kUserDef2, db::kUserDef3,   db::kUserDef4};

// What the user typed, as the controls hold it.
struct TypedRecord {
  QString date_text;  // e.g. "5 /7 /1997" or "  /  /    "
  QChar date_separator = u'/';
  QString purchase_price;
  QString market_value;
  QString premium_value;
  QString quantity;
  // The texts of kTextFields, by field number, as typed (CheckRecord trims).
  std::array<QString, db::kFieldCount + 1> texts{};
  bool approx = false;
  bool wanted = false;
};

enum class RecordFault {
  kNone,
  kDate,
  kPurchasePrice,
  kMarketValue,
  kPremiumValue,
  kQuantity,
  kCodePage,  // field and character say which
};

// The values to store, once checked.
struct CheckedRecord {
  RecordFault fault = RecordFault::kNone;
  int field = 0;   // the field at fault (kCodePage), else 0
  QString bad;     // the character its code page cannot hold (kCodePage)
  dbf::Date date;  // blank when no date was typed
  double purchase_price = 0;
  double market_value = 0;
  double premium_value = 0;
  int64_t quantity = 0;
  std::array<QString, db::kFieldCount + 1> texts{};  // trimmed
  bool approx = false;
  bool wanted = false;
  bool ok() const { return fault == RecordFault::kNone; }
};

// Checks typed against the table's fields (an amount or quantity too large
// for its field is refused like one that does not read) and code page, in
// the given number formats.
CheckedRecord CheckRecord(const TypedRecord& typed, const app::NumberFormats& formats,
                          dbf::Table& table);

// The stored bytes of every field of the table's current row.
using RowBytes = std::array<std::string, db::kFieldCount + 1>;
RowBytes ReadRowBytes(dbf::Table& table);
// The fields whose stored bytes differ from loaded (the current row of a
// table in edit, which holds the row as stored now).
FieldFlags ChangedSince(dbf::Table& table, const RowBytes& loaded);

// See the header comment.
FieldFlags FieldsToWrite(bool adding, const FieldFlags& changed_by_user,
                         const FieldFlags& changed_elsewhere);

// Sets the fields marked in writing from record, in the row the table is
// appending or editing. Engine errors propagate.
void SetRecordFields(dbf::Table& table, const CheckedRecord& record, const FieldFlags& writing);

}  // namespace klv::edit
