#include "find/Replace.h"

#include <charconv>
#include <cmath>
#include <string>

#include "app/Formats.h"
#include "db/FieldTable.h"
#include "find/Criteria.h"
#include "find/FindTexts.h"

namespace klv::find {
namespace {

bool IsBlankDateText(const QString& text) {
  return text.isEmpty() || text == QLatin1String("/  /") || text == QLatin1String("-  -") ||
         text == QLatin1String(".  .");
}

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

ReplaceCheck Refuse(const char* message, ReplaceCheck::Focus focus) {
  ReplaceCheck check;
  check.message = Text(message);
  check.focus = focus;
  return check;
}

// Whether the engine can store value in a numeric field as it is: the
// digits rounded to the field's decimals fit its width, and a field without
// decimals gets a whole number.
bool NumberFits(double value, const dbf::FieldDef& def) {
  if (!std::isfinite(value)) return false;
  if (def.decimals == 0 && value != std::floor(value)) return false;
  const double scale = std::pow(10.0, def.decimals);
  double rounded = value;
  if (std::fabs(value) * scale < 1e15) rounded = std::round(value * scale) / scale;
  char buf[400];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, def.decimals);
  if (ec != std::errc()) return false;
  std::string text(buf, end);
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return static_cast<int>(text.size()) <= def.length;
}

// Why the replacement cannot be stored in the field as typed, if it cannot.
std::optional<ReplaceCheck> ReplacementProblem(const ReplacePlan& plan, const dbf::FieldDef& def,
                                               const dbf::CodePage& page) {
  using Focus = ReplaceCheck::Focus;
  if (plan.kind == 'C' && def.type == 'C') {
    std::string bad;
    const std::optional<std::string> bytes = page.Encode(plan.replacement.toStdString(), &bad);
    if (!bytes) {
      ReplaceCheck check = Refuse(texts::kReplacementCharacterStart, Focus::kReplaceText);
      check.message += QString::fromStdString(bad) + Text(texts::kReplacementCharacterEnd);
      return check;
    }
    if (static_cast<int>(bytes->size()) > def.length) {
      ReplaceCheck check = Refuse(texts::kReplacementTooLongStart, Focus::kReplaceText);
      check.message += QString::number(def.length) + Text(texts::kReplacementTooLongEnd);
      return check;
    }
  }
  if (plan.kind == 'N' && (def.type == 'N' || def.type == 'F') &&
      !NumberFits(plan.replace_number, def)) {
    return Refuse(texts::kInvalidReplacementValue, Focus::kReplaceText);
  }
  return std::nullopt;
}

const char* FieldName(int field_no) {
  return FieldTable[static_cast<size_t>(field_no)].name.data();
}

}  // namespace

ReplaceEditSetup ReplaceEdit(int field_no) {
  switch (SearchKind(field_no)) {
    case 'N':
      return {QStringLiteral("ccccccccc;1"), 0};
    case 'D':
      return {QStringLiteral("99/99/0000;1"), 0};
    default:
      return {QString(), field_no >= 1 && field_no <= kFieldCount
                             ? FieldTable[static_cast<size_t>(field_no)].width
                             : 0};
  }
}

ReplaceCheck CheckReplaceInput(int field_no, const QString& search_text,
                               const QString& replace_text, int date_format,
                               dbf::Table* open_table) {
  using Focus = ReplaceCheck::Focus;
  if (field_no < 1 || field_no > kFieldCount)
    return Refuse(texts::kNoFieldSelected, Focus::kFieldBox);
  const QString search = search_text.trimmed();
  const QString replace = replace_text.trimmed();
  ReplaceCheck check;
  ReplacePlan& plan = check.plan;
  plan.field_no = field_no;
  plan.kind = SearchKind(field_no);
  switch (plan.kind) {
    case 'N': {
      const std::optional<double> s = ReadPlainNumber(search);
      if (!s) return Refuse(texts::kInvalidSearchValue, Focus::kSearchText);
      const std::optional<double> r = ReadPlainNumber(replace);
      if (!r) return Refuse(texts::kInvalidReplacementValue, Focus::kReplaceText);
      plan.search_number = *s;
      plan.replace_number = *r;
      break;
    }
    case 'D': {
      const std::optional<dbf::Date> s =
          IsBlankDateText(search) ? std::nullopt : app::ReadDate(date_format, search);
      if (!s) return Refuse(texts::kInvalidSearchDate, Focus::kSearchText);
      const std::optional<dbf::Date> r =
          IsBlankDateText(replace) ? std::nullopt : app::ReadDate(date_format, replace);
      if (!r) return Refuse(texts::kInvalidReplacementDate, Focus::kReplaceText);
      plan.search_date = *s;
      plan.replace_date = *r;
      break;
    }
    default:
      plan.search_upper = UpperText(search);
      plan.replacement = replace;
  }
  if (open_table && open_table->IsOpen()) {
    if (const dbf::Field* field = open_table->FindField(FieldName(field_no))) {
      if (std::optional<ReplaceCheck> problem =
              ReplacementProblem(plan, field->def(), open_table->code_page()))
        return *problem;
    }
  }
  check.ok = true;
  return check;
}

namespace {

bool Matches(const ReplacePlan& plan, const dbf::Field& field) {
  switch (plan.kind) {
    case 'N':
      return field.AsFloat() == plan.search_number;
    case 'D':
      return field.AsDate() == plan.search_date;
    default:
      return UpperText(QString::fromStdString(field.AsString())) == plan.search_upper;
  }
}

}  // namespace

bool ReplaceMatches(const ReplacePlan& plan, dbf::Table& table) {
  return Matches(plan, table.FieldByName(FieldName(plan.field_no)));
}

QString FormatCount(int64_t value) {
  const bool negative = value < 0;
  std::string digits = std::to_string(value);
  if (negative) digits.erase(0, 1);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), 1, ',');
  return QString::fromStdString((negative ? "-" : "") + digits);
}

QString ConfirmPrompt(const QString& country) {
  return Text(texts::kItemStart) + u'"' + country + u'"' + Text(texts::kChangeThisRecord);
}

ReplaceRun RunReplace(dbf::Table& table, const ReplacePlan& plan, const ReplaceHooks& hooks) {
  if (!table.IsOpen() || !table.exclusive() || !table.IndexName().empty() || table.Filtered()) {
    dbf::Fail(dbf::ErrorCode::kBadState,
              "Search and replace needs the table open exclusively, in record order and "
              "without a filter");
  }
  ReplaceRun run;
  if (plan.field_no < 1 || plan.field_no > kFieldCount) {
    run.message = Text(texts::kNoFieldSelected);
    return run;
  }
  dbf::Field& field = table.FieldByName(FieldName(plan.field_no));
  const dbf::Field* country = table.FindField(FieldName(db::kCountry));
  if (std::optional<ReplaceCheck> problem =
          ReplacementProblem(plan, field.def(), table.code_page())) {
    run.message = problem->message;
    return run;
  }
  run.ran = true;
  ReplaceCounters& n = run.counters;
  auto draw = [&] {
    if (hooks.counters) hooks.counters(n);
  };
  const std::string replacement = plan.replacement.toStdString();
  for (table.First(); !table.Eof(); table.Next()) {
    if (Matches(plan, field)) {
      const bool change =
          !hooks.confirm || hooks.confirm(ConfirmPrompt(
                                country ? QString::fromStdString(country->AsString()) : QString()));
      if (change) {
        table.Edit();
        try {
          switch (plan.kind) {
            case 'N':
              field.SetAsFloat(plan.replace_number);
              break;
            case 'D':
              field.SetAsDate(plan.replace_date);
              break;
            default:
              field.SetAsString(replacement);
          }
          table.Post();
        } catch (...) {
          // A post that failed after storing the row (writing the header,
          // say) leaves the table browsing: that row was changed.
          if (table.state() == dbf::Table::State::kBrowse) {
            ++n.changed;
            ++n.found;
            draw();
          } else {
            table.Cancel();
          }
          throw;
        }
        ++n.changed;
      }
      ++n.found;
      draw();
    }
    ++n.processed;
    draw();
  }
  return run;
}

}  // namespace klv::find
