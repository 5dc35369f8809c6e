#include "find/Criteria.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "app/Formats.h"
#include "find/FindTexts.h"

namespace klv::find {
namespace {

// Days from 1 January 1970 to y-m-d in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

const int64_t kSerialEpoch = DaysFromCivil(1899, 12, 30);

bool IsBlankDate(const QString& text) {
  return text.isEmpty() || text == QLatin1String("/  /") || text == QLatin1String("-  -") ||
         text == QLatin1String(".  .");
}

// Drops the first occurrence of c, as the grid's literals are taken out.
QString WithoutFirst(QString text, QChar c) {
  const qsizetype at = text.indexOf(c);
  if (at >= 0) text.remove(at, 1);
  return text;
}

QChar OperatorChar(RowOperator op) {
  switch (op) {
    case RowOperator::kGreater:
      return u'>';
    case RowOperator::kLess:
      return u'<';
    default:
      return u'=';
  }
}

// The two bounds of a range cell: "> lower AND < upper" with the literals
// left by the mask. Without "AND" the whole text counts as the lower bound,
// so that anything typed makes the range incomplete.
std::pair<QString, QString> RangeBounds(const QString& cell) {
  const QString text = WithoutFirst(WithoutFirst(cell, u'<'), u'>').trimmed();
  const qsizetype at = text.indexOf(QLatin1String("AND"));
  if (at < 0) return {text, QString()};
  return {text.left(at).trimmed(), text.mid(at + 3).trimmed()};
}

}  // namespace

char SearchKind(int field_no) {
  if (field_no < 1 || field_no > kFieldCount) return 'C';
  return FieldTable[static_cast<size_t>(field_no)].letter;
}

double DateSerial(const dbf::Date& date) {
  if (date.IsNull()) return 0;
  return static_cast<double>(DaysFromCivil(date.year, date.month, date.day) - kSerialEpoch);
}

dbf::Date DateOfSerial(double serial) {
  if (serial == 0 || !std::isfinite(serial) || std::fabs(serial) > 4e6) return {};
  const int64_t z = static_cast<int64_t>(std::floor(serial)) + kSerialEpoch + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  return dbf::Date{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

QString UpperText(const QString& text) {
  QList<uint> code_points = text.toUcs4();
  for (uint& c : code_points) c = QChar::toUpper(static_cast<char32_t>(c));
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(code_points.constData()),
                           code_points.size());
}

std::optional<double> ReadPlainNumber(const QString& text) {
  const std::string s = text.toStdString();
  size_t i = 0;
  auto digits = [&] {
    const size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i - start;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  const double value = std::strtod(s.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

QString SearchEditMask(int field_no, RowOperator op) {
  const char kind = SearchKind(field_no);
  if (kind == 'C') {
    const int width = field_no >= 1 && field_no <= kFieldCount
                          ? FieldTable[static_cast<size_t>(field_no)].width
                          : 0;
    return QString(width, u'c');
  }
  static const char* const kNumber[4] = {"= ccccccccc;1", "\\> ccccccccc;1", "\\< ccccccccc;1",
                                         "\\> ccccccccc \\A\\ND \\< cccccccc"};
  static const char* const kDate[4] = {"= 99/99/0000;1", "\\> 99/99/0000;1", "\\< 99/99/0000;1",
                                       "\\> 99/99/0000 \\A\\ND \\< 99/99/0000;1"};
  const int at = std::clamp(static_cast<int>(op), 1, 4) - 1;
  return QString::fromLatin1(kind == 'N' ? kNumber[at] : kDate[at]);
}

bool HasPickButton(int field_no) {
  if (field_no < 1 || field_no > kFieldCount) return false;
  return SearchKind(field_no) != 'C' || FieldTable[static_cast<size_t>(field_no)].value_list == 1;
}

SearchScreen EmptyScreen() {
  SearchScreen screen;
  for (int row = 1; row <= kGridRows; ++row)
    screen[static_cast<size_t>(row - 1)].kind = SearchKind(row);
  return screen;
}

QString TooManyCriteriaMessage() {
  return QString::fromUtf8(texts::kTooManyStart) + QString::number(kMaxCriteria) +
         QString::fromUtf8(texts::kTooManyMiddle) + QString::fromUtf8(texts::kTooManyEnd);
}

QString CriteriaList::Header() const {
  return QString::fromUtf8(texts::kCriteriaHeader) + QString::number(level_) + u')';
}

void CriteriaList::ClearSearch() {
  items_.clear();
  level_ = 1;
  more_enabled_ = true;
}

bool CriteriaList::Add(SearchCriterion criterion, SaveOutcome& outcome) {
  if (count() + 1 > kMaxCriteria) {
    ClearSearch();
    outcome.result = SaveOutcome::Result::kTooMany;
    outcome.message = TooManyCriteriaMessage();
    outcome.focus_row = 0;
    outcome.clear_screen = true;
    return false;
  }
  items_.push_back(std::move(criterion));
  return true;
}

SaveOutcome CriteriaList::SaveFields(const SearchScreen& screen, int date_format) {
  const size_t remembered = items_.size();
  bool found = false;
  SaveOutcome out;
  auto invalid = [&](int row) {
    items_.resize(remembered);
    out.result = SaveOutcome::Result::kInvalid;
    out.message = QString::fromUtf8(texts::kInvalidCriteria);
    out.focus_row = row;
    return out;
  };
  for (int row = 1; row <= kGridRows; ++row) {
    const SearchRow& r = screen[static_cast<size_t>(row - 1)];
    const QString cell = r.text.trimmed();
    SearchCriterion c;
    c.field_no = row;
    if (r.kind == 'N' || r.kind == 'D') {
      const bool is_date = r.kind == 'D';
      c.is_date = is_date;
      // Reads one bound; false when it is not a number or a date.
      auto read = [&](const QString& text, SearchCriterion& into) {
        if (is_date) {
          const std::optional<dbf::Date> date = app::ReadDate(date_format, text);
          if (!date) return false;
          into.date_value = DateSerial(*date);
          into.text = QString::number(into.date_value, 'f', 0);
        } else {
          const std::optional<double> number = ReadPlainNumber(text);
          if (!number) return false;
          into.number_value = *number;
          into.text = text;
        }
        return true;
      };
      auto empty = [&](const QString& text) {
        return is_date ? IsBlankDate(text) : text.isEmpty();
      };
      if (r.op == RowOperator::kRange) {
        const auto [lower, upper] = RangeBounds(cell);
        if (empty(lower) && empty(upper)) continue;
        if (empty(lower) || empty(upper)) return invalid(row);
        SearchCriterion low = c, high = c;
        if (!read(lower, low) || !read(upper, high)) return invalid(row);
        low.comparison = Comparison::kGreater;
        high.comparison = Comparison::kLess;
        found = true;
        if (!Add(std::move(low), out) || !Add(std::move(high), out)) return out;
      } else {
        const QString value = WithoutFirst(cell, OperatorChar(r.op)).trimmed();
        if (empty(value)) continue;
        if (!read(value, c)) return invalid(row);
        c.comparison = static_cast<Comparison>(r.op);
        found = true;
        if (!Add(std::move(c), out)) return out;
      }
    } else {
      if (cell.isEmpty()) continue;
      c.text = UpperText(cell).left(kMaxCriterionText);
      c.comparison = Comparison::kContains;
      found = true;
      if (!Add(std::move(c), out)) return out;
    }
  }
  if (!found) {
    out.result = SaveOutcome::Result::kNothing;
    out.message = QString::fromUtf8(texts::kNoCriteria);
    out.focus_row = 0;
    return out;
  }
  items_.back().level_end = true;
  return out;
}

SaveOutcome CriteriaList::More(const SearchScreen& screen, int date_format) {
  SaveOutcome out = SaveFields(screen, date_format);
  if (out.ok()) {
    out.clear_screen = true;
    if (level_ < kMaxLevels) ++level_;
    if (level_ >= kMaxLevels) more_enabled_ = false;
  }
  return out;
}

SaveOutcome CriteriaList::Confirm(const SearchScreen& screen, int date_format) {
  // Never past the last level: a screen saved after it would join it.
  more_enabled_ = level_ < kMaxLevels;
  return SaveFields(screen, date_format);
}

}  // namespace klv::find
