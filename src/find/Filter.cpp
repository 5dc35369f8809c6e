#include "find/Filter.h"

#include <utility>

namespace klv::find {
namespace {

bool Compare(double value, Comparison comparison, double bound) {
  switch (comparison) {
    case Comparison::kEqual:
      return value == bound;
    case Comparison::kGreater:
      return value > bound;
    case Comparison::kLess:
      return value < bound;
    default:
      return false;
  }
}

}  // namespace

ActiveSearch::ActiveSearch(std::vector<SearchCriterion> criteria)
    : criteria_(std::move(criteria)) {}

void ActiveSearch::Prepare(dbf::Table& table) const {
  std::vector<Prepared> prepared;
  prepared.reserve(criteria_.size());
  FoldedBytes folding(table.code_page());
  for (const SearchCriterion& c : criteria_) {
    const std::string name = c.field_no >= 1 && c.field_no <= kFieldCount
                                 ? std::string(FieldTable[static_cast<size_t>(c.field_no)].name)
                                 : "field number " + std::to_string(c.field_no);
    const dbf::Field& field = table.FieldByName(name);
    Prepared p;
    p.position = field.index();
    p.comparison = c.comparison;
    p.level_end = c.level_end;
    if (c.comparison == Comparison::kContains) {
      if (field.def().type == 'C') {
        std::optional<std::string> needle = folding.Fold(c.text);
        p.kind = needle ? Prepared::Kind::kFoldedText : Prepared::Kind::kNever;
        if (needle) p.needle = std::move(*needle);
      } else {
        p.kind = Prepared::Kind::kText;
        p.text = UpperText(c.text);
      }
    } else if (c.is_date) {
      p.kind = Prepared::Kind::kDate;
      p.bound = c.date_value;
    } else {
      p.kind = Prepared::Kind::kNumber;
      p.bound = c.number_value;
    }
    prepared.push_back(std::move(p));
  }
  prepared_ = std::move(prepared);
  folding_.emplace(folding);
  prepared_for_ = &table;
  prepared_page_ = &table.code_page();
  prepared_field_count_ = table.FieldCount();
}

bool ActiveSearch::Accept(dbf::Table& table) const {
  if (criteria_.empty()) return false;
  if (prepared_for_ != &table || prepared_page_ != &table.code_page() ||
      prepared_field_count_ != table.FieldCount())
    Prepare(table);
  bool level_holds = true;
  for (const Prepared& p : prepared_) {
    if (level_holds) {
      const dbf::Field& field = table.Fields(p.position);
      switch (p.kind) {
        case Prepared::Kind::kNumber:
          level_holds = Compare(field.AsFloat(), p.comparison, p.bound);
          break;
        case Prepared::Kind::kDate:
          level_holds = Compare(DateSerial(field.AsDate()), p.comparison, p.bound);
          break;
        case Prepared::Kind::kFoldedText:
          level_holds = folding_->Contains(field.Raw(), p.needle);
          break;
        case Prepared::Kind::kText:
          level_holds = UpperText(QString::fromStdString(field.AsString())).contains(p.text);
          break;
        case Prepared::Kind::kNever:
          level_holds = false;
          break;
      }
    }
    if (p.level_end) {
      if (level_holds) return true;
      level_holds = true;
    }
  }
  return false;
}

std::function<bool(dbf::Table&)> RowFilter(std::shared_ptr<const ActiveSearch> search) {
  return [search = std::move(search)](dbf::Table& table) { return search->Accept(table); };
}

}  // namespace klv::find
