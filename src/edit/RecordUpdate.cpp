#include "edit/RecordUpdate.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include <QStringList>

#include "db/PickLists.h"
#include "edit/EditTexts.h"

namespace klv::edit {
namespace {

using db::FieldTable;
using db::kFieldCount;
using db::kMarketValu;
using db::kPremiumVal;
using db::kPurchasePr;
using db::kPurchDate;
using db::kQuantity;
using db::kWanted;
using db::kYearApprox;
using db::TrimBlanks;

const char* FieldName(int field) {
  return FieldTable[static_cast<size_t>(field)].name.data();
}

// The date control holds a blank date when, its blanks cut, only the two
// separators are left, whichever separator the date format uses.
bool IsBlankDateText(const QString& trimmed) {
  return trimmed.isEmpty() || trimmed == QLatin1String("/  /") ||
         trimmed == QLatin1String("-  -") || trimmed == QLatin1String(".  .");
}

// A date as the date control holds it: three groups split by the separator,
// each with blanks only around its digits ("5 /7 /1997"), read in the
// current date format.
std::optional<dbf::Date> ReadDateText(const QString& text, QChar separator,
                                      const dbf::TextFormat& format) {
  const QStringList parts = text.split(separator);
  if (parts.size() != 3) return std::nullopt;
  QStringList groups;
  for (const QString& part : parts) {
    const QString group = TrimBlanks(part);
    if (group.isEmpty() || group.contains(u' ')) return std::nullopt;
    groups.append(group);
  }
  return dbf::ParseDateText(groups.join(separator).toStdString(), format);
}

// Whether value, written with the field's decimals, fits the field's width.
bool FitsField(const dbf::FieldDef& def, double value) {
  if (def.type != 'N' && def.type != 'F') return true;
  if (!std::isfinite(value)) return false;
  char buf[400];
  const int n = std::snprintf(buf, sizeof buf, "%.*f", def.decimals, value);
  return n > 0 && n <= def.length;
}

}  // namespace

CheckedRecord CheckRecord(const TypedRecord& typed, const app::NumberFormats& formats,
                          dbf::Table& table) {
  CheckedRecord r;
  auto refuse = [&r](RecordFault fault) {
    r.fault = fault;
    return r;
  };

  const QString date_text = TrimBlanks(typed.date_text);
  if (!IsBlankDateText(date_text)) {
    const auto d = ReadDateText(date_text, typed.date_separator, table.text_format());
    if (!d) return refuse(RecordFault::kDate);
    r.date = *d;
  }

  // Too large for their fields is refused too: it would otherwise fail half
  // way through writing the row.
  const struct {
    const QString& text;
    int field;
    RecordFault fault;
    double& value;
  } money[] = {{typed.purchase_price, kPurchasePr, RecordFault::kPurchasePrice, r.purchase_price},
               {typed.market_value, kMarketValu, RecordFault::kMarketValue, r.market_value},
               {typed.premium_value, kPremiumVal, RecordFault::kPremiumValue, r.premium_value}};
  for (const auto& m : money) {
    const auto v = app::ReadTypedAmount(formats, m.text);
    if (v.state == app::TypedState::kInvalid ||
        (v.valid() && !FitsField(table.FieldByName(FieldName(m.field)).def(), v.value)))
      return refuse(m.fault);
    m.value = v.valid() ? v.value : 0;
  }

  const auto quantity = app::ReadTypedWhole(formats, typed.quantity);
  if (quantity.state == app::TypedState::kInvalid ||
      (quantity.valid() &&
       !FitsField(table.FieldByName(FieldName(kQuantity)).def(), quantity.value)))
    return refuse(RecordFault::kQuantity);
  r.quantity = quantity.valid() ? quantity.value : 0;

  // Refused here, before anything is changed, rather than by the engine half
  // way through the row.
  for (int field : kTextFields) {
    const QString text = TrimBlanks(typed.texts[static_cast<size_t>(field)]);
    std::string bad;
    if (!table.code_page().Encode(text.toStdString(), &bad)) {
      r.field = field;
      r.bad = QString::fromStdString(bad);
      return refuse(RecordFault::kCodePage);
    }
    r.texts[static_cast<size_t>(field)] = text;
  }
  r.approx = typed.approx;
  r.wanted = typed.wanted;
  return r;
}

RowBytes ReadRowBytes(dbf::Table& table) {
  RowBytes bytes;
  for (int n = 1; n <= kFieldCount; ++n)
    bytes[static_cast<size_t>(n)] = std::string(table.FieldByName(FieldName(n)).Raw());
  return bytes;
}

FieldFlags ChangedSince(dbf::Table& table, const RowBytes& loaded) {
  FieldFlags changed{};
  for (int n = 1; n <= kFieldCount; ++n) {
    changed[static_cast<size_t>(n)] =
        table.FieldByName(FieldName(n)).Raw() != std::string_view(loaded[static_cast<size_t>(n)]);
  }
  return changed;
}

FieldFlags FieldsToWrite(bool adding, const FieldFlags& changed_by_user,
                         const FieldFlags& changed_elsewhere) {
  auto user = [&](int n) { return changed_by_user[static_cast<size_t>(n)]; };
  auto elsewhere = [&](int n) { return changed_elsewhere[static_cast<size_t>(n)]; };
  FieldFlags writing{};
  for (int n = 1; n <= kFieldCount; ++n) {
    bool write = true;
    if (adding) {
      write = true;
    } else if (n == kQuantity || n == kWanted) {
      write = user(kQuantity) || user(kWanted) || (!elsewhere(kQuantity) && !elsewhere(kWanted));
    } else {
      write = user(n) || !elsewhere(n);
    }
    writing[static_cast<size_t>(n)] = write;
  }
  return writing;
}

void SetRecordFields(dbf::Table& table, const CheckedRecord& record, const FieldFlags& writing) {
  auto writes = [&](int n) { return writing[static_cast<size_t>(n)]; };
  auto field = [&table](int n) -> dbf::Field& { return table.FieldByName(FieldName(n)); };
  for (int n : kTextFields)
    if (writes(n)) field(n).SetAsString(record.texts[static_cast<size_t>(n)].toStdString());
  if (writes(kPurchDate)) field(kPurchDate).SetAsDate(record.date);
  if (writes(kPurchasePr)) field(kPurchasePr).SetAsFloat(record.purchase_price);
  if (writes(kMarketValu)) field(kMarketValu).SetAsFloat(record.market_value);
  if (writes(kPremiumVal)) field(kPremiumVal).SetAsFloat(record.premium_value);
  if (writes(kQuantity)) field(kQuantity).SetAsInteger(record.quantity);
  if (writes(kWanted)) field(kWanted).SetAsString(record.wanted ? texts::kYes : texts::kNo);
  if (writes(kYearApprox)) field(kYearApprox).SetAsString(record.approx ? texts::kYes : texts::kNo);
}

}  // namespace klv::edit
