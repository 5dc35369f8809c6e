// The row filter of search mode: a confirmed search by example, applied to
// every candidate row of the coin table.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/dbf/Table.h"
#include "find/Criteria.h"
#include "find/TextMatch.h"

namespace klv::find {

// A confirmed search: its own copy of the criteria, so that reopening the
// search form, and leaving it without confirming, changes nothing about the
// rows search mode shows. Immutable once made.
//
// Accept() is the per-row test: levels are alternatives, the criteria of a
// level must all hold, and once a criterion of a level fails the rest of
// that level is skipped without reading the row. Blank numbers and dates
// read as 0 (before any real date); character criteria hold when the field
// contains the text without regard to case.
//
// The criteria are prepared for a table once, on the first row asked about:
// field positions found by name, texts folded into the table's code page.
// Every later row reads straight from the record through the fields found
// then. Another table, another code page or another number of fields makes
// it prepare again (coin tables are only opened with their 20 fields in
// their fixed order). A criterion whose field the table lacks fails with the
// engine's kNoSuchField error on that first row. The program runs one thread;
// an ActiveSearch is not for filters that run in several at once.
class ActiveSearch {
 public:
  explicit ActiveSearch(std::vector<SearchCriterion> criteria);

  const std::vector<SearchCriterion>& criteria() const { return criteria_; }

  // Whether the table's current (candidate) row passes the search.
  bool Accept(dbf::Table& table) const;

 private:
  struct Prepared {
    enum class Kind { kNumber, kDate, kFoldedText, kText, kNever };
    Kind kind = Kind::kNumber;
    int position = 0;
    Comparison comparison = Comparison::kEqual;
    double bound = 0;
    bool level_end = false;
    std::string needle;  // kFoldedText: in the table's code page, folded
    QString text;        // kText: fields that are not character fields
  };
  void Prepare(dbf::Table& table) const;

  std::vector<SearchCriterion> criteria_;
  // Prepared for one table; what it was prepared for is kept beside it.
  mutable std::vector<Prepared> prepared_;
  mutable std::optional<FoldedBytes> folding_;
  mutable const dbf::Table* prepared_for_ = nullptr;
  mutable const dbf::CodePage* prepared_page_ = nullptr;
  mutable int prepared_field_count_ = -1;
};

// The filter callback dbf::Table::SetOnFilterRecord takes, sharing the search.
std::function<bool(dbf::Table&)> RowFilter(std::shared_ptr<const ActiveSearch> search);

}  // namespace klv::find
