#include "find/Locate.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "find/Criteria.h"
#include "find/FindTexts.h"

namespace klv::find {
namespace {

// Up to 15 significant digits without trailing zeros; exponent form
// ("1.5E20", "1E-5") only for very large or very small values.
QString GeneralFormat(double value, char separator) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string text = buf;
  const size_t e = text.find('e');
  if (e != std::string::npos) {
    std::string exponent = text.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.erase(0, 1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    text = text.substr(0, e) + 'E' + (negative ? "-" : "") + exponent;
  }
  if (separator != '.') std::replace(text.begin(), text.end(), '.', separator);
  return QString::fromStdString(text);
}

// The value prepared once for a search over many rows.
class Matcher {
 public:
  Matcher(const dbf::Field& field, const QString& value, TMyLocateMatchType match_type,
          bool case_sensitive)
      : match_type_(match_type),
        case_sensitive_(case_sensitive),
        value_(case_sensitive ? value : UpperText(value)) {
    if (match_type == TMyLocateMatchType::mtExactMatch && IsFloatField(field.def())) {
      by_number_ = true;
      number_ = dbf::ParseNumberText(value.trimmed().toStdString(), field.text_format());
    }
  }

  bool operator()(const dbf::Field& field) const {
    if (by_number_) return number_ && field.AsFloat() == *number_;
    QString text = LocateFieldText(field);
    if (!case_sensitive_) text = UpperText(text);
    switch (match_type_) {
      case TMyLocateMatchType::mtExactMatch:
        return text == value_;
      case TMyLocateMatchType::mtPartialMatchStart:
        // An empty value occurs nowhere, as a position search reports it.
        return !value_.isEmpty() && text.startsWith(value_);
      case TMyLocateMatchType::mtPartialMatchAny:
        return !value_.isEmpty() && text.contains(value_);
    }
    return false;
  }

 private:
  TMyLocateMatchType match_type_;
  bool case_sensitive_;
  QString value_;
  bool by_number_ = false;
  std::optional<double> number_;
};

// Observers hear of the walk once, when it is over, however it ends.
class ControlsDisabled {
 public:
  explicit ControlsDisabled(dbf::Table& table) : table_(table) { table_.DisableControls(); }
  ~ControlsDisabled() { table_.EnableControls(); }
  ControlsDisabled(const ControlsDisabled&) = delete;
  ControlsDisabled& operator=(const ControlsDisabled&) = delete;

 private:
  dbf::Table& table_;
};

QString Label(const dbf::Field& field, const std::function<QString(const dbf::Field&)>& label_of) {
  QString label = label_of ? label_of(field) : QString::fromStdString(field.name());
  label.replace(u'~', u' ');
  return label;
}

}  // namespace

bool IsFloatField(const dbf::FieldDef& def) {
  return def.type == 'F' || (def.type == 'N' && def.decimals > 0);
}

QString LocateFieldText(const dbf::Field& field) {
  const dbf::FieldDef& def = field.def();
  switch (def.type) {
    case 'N':
    case 'F':
      if (field.IsNull()) return {};
      if (!IsFloatField(def)) return QString::number(field.AsInteger());
      return GeneralFormat(field.AsFloat(), field.text_format().decimal_separator);
    case 'L':
      if (field.IsNull()) return {};
      return field.AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    default:
      return QString::fromStdString(field.AsString());
  }
}

bool LocateMatches(const dbf::Field& field, const QString& value, TMyLocateMatchType match_type,
                   bool case_sensitive) {
  return Matcher(field, value, match_type, case_sensitive)(field);
}

LocateResult LocateSearch(dbf::Table& table, bool from_start, const QString& field_name,
                          bool case_sensitive, TMyLocateMatchType match_type, const QString& value,
                          const std::function<void()>& progress) {
  LocateResult result;
  if (table.state() == dbf::Table::State::kEdit || table.state() == dbf::Table::State::kInsert)
    table.Post();
  const dbf::Field* field = table.FindField(field_name.toStdString());
  if (!field) {
    result.message = {LocateMessage::Box::kWarning,
                      QString::fromUtf8(texts::kFieldNotFoundStart) + field_name +
                          QString::fromUtf8(texts::kFieldNotFoundEnd)};
    return result;
  }
  if (table.IsEmpty()) return result;
  const Matcher matches(*field, value, match_type, case_sensitive);
  // At the end the cursor still stands on the last row, and goes back there.
  const dbf::Bookmark start = table.GetBookmark();
  const bool had_row = start.recno != 0;
  ControlsDisabled quiet(table);
  if (from_start) {
    table.First();
    result.found = !table.Eof() && matches(*field);
  }
  if (!result.found) {
    for (table.Next(); !table.Eof(); table.Next()) {
      if (progress) progress();
      if (matches(*field)) {
        result.found = true;
        break;
      }
    }
  }
  if (!result.found) {
    if (had_row) {
      try {
        table.GotoBookmark(start);
      } catch (const dbf::DbfError& e) {
        // Another copy deleted the row meanwhile: there is nothing to go back to.
        if (e.code() != dbf::ErrorCode::kKeyNotFound) throw;
        table.First();
      }
    } else {
      table.First();
    }
  }
  return result;
}

LocateResult LocateFromDialog(dbf::Table& table, bool from_start, const LocateDialogSetup& setup,
                              const LocateDialogResult& controls,
                              const std::function<void()>& progress) {
  const auto item =
      std::find_if(setup.fields.begin(), setup.fields.end(),
                   [&](const LocateFieldItem& f) { return f.label == controls.field_label; });
  if (item == setup.fields.end()) return {};
  LocateResult result = LocateSearch(table, from_start, item->name, controls.case_sensitive,
                                     controls.match_type, controls.value, progress);
  if (!result.found && result.message.box == LocateMessage::Box::kNone) {
    result.message = {LocateMessage::Box::kInformation,
                      QString::fromUtf8(from_start ? texts::kNoMatches : texts::kNoMoreMatches)};
  }
  return result;
}

LocateDialogSetup TMyLocateDialog::PrepareDialog(
    dbf::Table& table, const std::function<QString(const dbf::Field&)>& label_of) const {
  LocateDialogSetup setup;
  setup.caption = Caption;
  const dbf::Field* searched =
      SearchField.isEmpty() ? nullptr : table.FindField(SearchField.toStdString());
  QString searched_label;
  for (int i = 0; i < table.FieldCount(); ++i) {
    const dbf::Field& field = table.Fields(i);
    // Binary and picture fields have no text to search.
    if (field.def().type == 'B' || field.def().type == 'G') continue;
    setup.fields.push_back({Label(field, label_of), QString::fromStdString(field.name())});
    if (&field == searched) searched_label = setup.fields.back().label;
  }
  if (SortFields == TMyFieldSortType::fsSortByFieldName) {
    std::stable_sort(setup.fields.begin(), setup.fields.end(),
                     [](const LocateFieldItem& a, const LocateFieldItem& b) {
                       return a.label.compare(b.label, Qt::CaseInsensitive) < 0;
                     });
  }
  if (searched) {
    setup.value = value_;
    for (size_t i = 0; i < setup.fields.size(); ++i)
      if (setup.fields[i].label == searched_label) setup.selected = static_cast<int>(i);
  }
  setup.match_type = MatchType;
  setup.case_sensitive = CaseSensitive;
  setup.default_button = DefaultButton;
  return setup;
}

void TMyLocateDialog::TakeDialogResult(const LocateDialogSetup& setup,
                                       const LocateDialogResult& result) {
  MatchType = result.match_type;
  CaseSensitive = result.case_sensitive;
  value_ = result.value.left(kMaxLocateValue);
  SearchField.clear();
  for (const LocateFieldItem& item : setup.fields) {
    if (item.label == result.field_label) {
      SearchField = item.name;
      break;
    }
  }
}

LocateResult TMyLocateDialog::Execute(
    dbf::Table* table,
    const std::function<LocateDialogResult(const LocateDialogSetup&)>& run_dialog,
    const std::function<QString(const dbf::Field&)>& label_of) {
  LocateResult result;
  if (!table || !table->IsOpen()) {
    result.message = {LocateMessage::Box::kError, QString::fromUtf8(texts::kNoActiveDataSet)};
    return result;
  }
  const LocateDialogSetup setup = PrepareDialog(*table, label_of);
  const LocateDialogResult closed = run_dialog(setup);
  TakeDialogResult(setup, closed);
  result.found = closed.found;
  return result;
}

LocateResult TMyLocateDialog::FindNext(
    dbf::Table* table,
    const std::function<LocateDialogResult(const LocateDialogSetup&)>& run_dialog,
    const std::function<QString(const dbf::Field&)>& label_of) {
  if (!table || !table->IsOpen()) {
    LocateResult result;
    result.message = {LocateMessage::Box::kWarning, QString::fromUtf8(texts::kNoActiveTable)};
    return result;
  }
  if (value_.isEmpty()) {
    DefaultButton = TMyDefaultButtonType::dbFindNext;
    return Execute(table, run_dialog, label_of);
  }
  LocateResult result =
      LocateSearch(*table, false, SearchField, CaseSensitive, MatchType, value_, Progress);
  if (!result.found && result.message.box == LocateMessage::Box::kNone && ShowMessages)
    result.message = {LocateMessage::Box::kInformation, QString::fromUtf8(texts::kNoMoreMatches)};
  return result;
}

}  // namespace klv::find
