#include "db/Conversion.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QFile>
#include <QFileInfo>

#include "db/DbFiles.h"
#include "db/DbTexts.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::db {
namespace {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

constexpr std::array<const char*, 16> kV2Fields = {
    "COUNTRY",    "FACEVALUE",  "YEAR",   "CONDITION",  "MINTMARK",  "PURCHASEPR",
    "MARKETVALU", "PREMIUMVAL", "TOPIC",  "DESCRIPTIO", "PURCHDATE", "MISCELLANE",
    "QUANTITY",   "COMMENT",    "YEARBC", "YEARAPPROX"};
constexpr std::array<const char*, 21> kV1Fields = {
    "COUNTRY",    "FACEVALUE", "YEAR",       "CONDITION", "MINTMARK",   "PURCHASEPR", "MARKETVALU",
    "PREMIUMVAL", "TOPIC",     "DESCRIPTIO", "PURCHDAY",  "PURCHMONTH", "PURCHYEAR",  "COMMEMORAT",
    "CONTROLLER", "GOLD",      "SILVER",     "QUANTITY",  "COMMENT",    "YEARBC",     "YEARAPPROX"};

// The fields copied into the coin table's field of the same name.
constexpr std::array<const char*, 14> kV2Copied = {
    "Country",    "FaceValue", "Year",       "Condition", "MintMark",   "PurchasePr", "MarketValu",
    "PremiumVal", "Topic",     "Descriptio", "PurchDate", "Miscellane", "Quantity",   "Comment"};
constexpr std::array<const char*, 12> kV1Copied = {
    "Country",    "FaceValue",  "Year",  "Condition",  "MintMark", "PurchasePr",
    "MarketValu", "PremiumVal", "Topic", "Descriptio", "Quantity", "Comment"};

template <size_t N>
bool HasFields(const QString& path, const std::array<const char*, N>& names) {
  try {
    const DatabasePaths p = DatabasePaths::From(path);
    if (!QFileInfo::exists(p.mdx)) RemoveMDXByte(p.dbf);
    dbf::Table check;
    check.SetDirectory(p.dir.toStdString());
    check.SetTableName(QFileInfo(p.dbf).fileName().toStdString());
    check.SetReadOnly(true);
    check.Open();
    if (check.FieldCount() != static_cast<int>(N) + 1) return false;
    for (size_t i = 0; i < N; ++i) {
      const QString name = QString::fromStdString(check.Fields(static_cast<int>(i) + 1).name());
      if (name.left(10).toUpper() != QLatin1String(names[i])) return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string Text(dbf::Table& t, const char* name) {
  return t.FieldByName(name).AsString();
}

// One old value into the new field, by value: a date as a date, a number
// as a number, so that no display format (a two-digit year, a decimal
// comma) comes between them. Text goes in as text, its characters the coin
// table cannot hold as their nearest letters, cut to the field.
void CopyValue(const dbf::Field& from, dbf::Field& to) {
  const char in = from.def().type;
  const char out = to.def().type;
  const bool typed_in = in == 'N' || in == 'F' || in == 'D';
  if (typed_in && from.IsNull()) return;  // the new row's field is blank already
  if (out == 'D' && in == 'D') return to.SetAsDate(from.AsDate());
  if ((out == 'N' || out == 'F') && (in == 'N' || in == 'F')) return to.SetAsFloat(from.AsFloat());
  uint64_t replaced = 0;
  to.SetAsNearestString(from.AsString(), &replaced);
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Steps 3 and 4 of both conversions: the approximate-year mark and the era.
void SetYear(dbf::Table& old_table, dbf::Table& my_table) {
  const QString approx = QString::fromStdString(Text(old_table, "YearApprox"));
  my_table.FieldByName("YearApprox").SetAsString(approx.toUpper() == "ABOUT" ? "Yes" : "No");
  const std::string year =
      my_table.FieldByName("Year").AsString() + " " + Text(old_table, "YearBC");
  my_table.FieldByName("Year").SetAsString(Trimmed(year));
}

dbf::Date PurchaseDateV1(dbf::Table& old_table) {
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string day = Text(old_table, "PurchDay").substr(0, 4);
  std::string month = Text(old_table, "PurchMonth").substr(0, 4);
  const std::string year = Text(old_table, "PurchYear").substr(0, 4);
  // A row without a purchase date has all three parts blank.
  if (Trimmed(day).empty() && Trimmed(month).empty() && Trimmed(year).empty()) return dbf::Date{};
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (month == kMonths[i]) month = std::to_string(i + 1);
  }
  const std::string text = month + "/" + day + "/" + year;
  dbf::TextFormat format;
  format.date_separator = '/';
  format.short_date = year.size() <= 2 ? "M/d/yy" : "M/d/yyyy";
  const std::optional<dbf::Date> date = dbf::ParseDateText(text, format);
  if (!date) {
    dbf::Fail(
        dbf::ErrorCode::kBadValue,
        QString::fromLatin1(texts::kNotAValidDate).arg(QString::fromStdString(text)).toStdString());
  }
  return *date;
}

// Runs fill for every row of the old table, each time on a new row of
// my_table, all posted as one batch that is written at the end or not at all.
void ConvertRows(dbf::Table& my_table, const QString& path,
                 const std::function<void(dbf::Table&, dbf::Table&)>& fill) {
  const DatabasePaths p = DatabasePaths::From(path);
  dbf::Table old_table;
  old_table.SetDirectory(p.dir.toStdString());
  old_table.SetTableName(QFileInfo(p.dbf).fileName().toStdString());
  old_table.SetReadOnly(true);
  old_table.SetTextFormat(my_table.text_format());
  old_table.Open();
  dbf::Table::AppendBatchOptions whole;
  whole.rows = SIZE_MAX;
  whole.milliseconds = int64_t{1} << 40;
  my_table.DisableControls();
  my_table.BeginAppendBatch(whole);
  try {
    for (old_table.First(); !old_table.Eof(); old_table.Next()) {
      my_table.Append();
      fill(old_table, my_table);
      my_table.Post();
    }
    my_table.EndAppendBatch();
  } catch (...) {
    // Dropped first: cancelling the row in hand moves the cursor, which
    // would write the queue.
    my_table.DropAppendBatch();
    if (my_table.state() == dbf::Table::State::kInsert) my_table.Cancel();
    my_table.EnableControls();
    throw;
  }
  my_table.EnableControls();
}

bool Offer(QWidget* owner, const QString& program_dir, const char* name, const char* question,
           bool (*recognise)(const QString&), void (*convert)(dbf::Table&, const QString&),
           dbf::Table& my_table) {
  const QString path = platform::FindFileNoCase(program_dir, QLatin1String(name));
  if (path.isEmpty() || !recognise(path)) return false;
  if (prompts().MessageBox(owner, QLatin1String(texts::kCaptionConvert), QLatin1String(question),
                           MsgIcon::kQuestion, MsgButtons::kYesNo,
                           MsgButton::kYes) != MsgButton::kYes)
    return false;
  try {
    convert(my_table, path);
  } catch (const std::exception& e) {
    prompts().MessageBox(owner, QLatin1String(texts::kCaptionError),
                         QString::fromStdString(e.what()) + QStringLiteral("\n\n") +
                             QLatin1String(texts::kConversionUndone),
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
    return false;
  }
  QFile::remove(path);
  return true;
}

}  // namespace

bool CheckDBaseFormatV2(const QString& path) {
  return HasFields(path, kV2Fields);
}

bool CheckDBaseFormatV1(const QString& path) {
  return HasFields(path, kV1Fields);
}

void ConvertV2(dbf::Table& my_table, const QString& path) {
  ConvertRows(my_table, path, [](dbf::Table& old_table, dbf::Table& t) {
    for (const char* name : kV2Copied) CopyValue(old_table.FieldByName(name), t.FieldByName(name));
    SetYear(old_table, t);
  });
}

void ConvertV1(dbf::Table& my_table, const QString& path) {
  ConvertRows(my_table, path, [](dbf::Table& old_table, dbf::Table& t) {
    for (const char* name : kV1Copied) CopyValue(old_table.FieldByName(name), t.FieldByName(name));
    t.FieldByName("PurchDate").SetAsDate(PurchaseDateV1(old_table));
    std::string misc;
    const std::pair<const char*, const char*> flags[] = {{"Commemorat", "Commemorative, "},
                                                         {"Controller", "Controller, "},
                                                         {"Gold", "Gold, "},
                                                         {"Silver", "Silver, "}};
    for (const auto& [field, words] : flags) {
      if (Text(old_table, field) == "Yes") misc += words;
    }
    if (!misc.empty()) misc.resize(misc.size() - 2);
    t.FieldByName("Miscellane").SetAsString(misc);
    SetYear(old_table, t);
  });
}

void CheckForConversion(QWidget* owner, const QString& program_dir, dbf::Table& my_table) {
  Offer(owner, program_dir, texts::kOldTableV2, texts::kConvertV2Question, CheckDBaseFormatV2,
        ConvertV2, my_table);
  Offer(owner, program_dir, texts::kOldTableV1, texts::kConvertV1Question, CheckDBaseFormatV1,
        ConvertV1, my_table);
}

}  // namespace klv::db
