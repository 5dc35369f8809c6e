// The want list: the coins whose Wanted field is "Yes", sorted by country
// then year, printed through the report engine like any report (preview,
// printer, PDF, text file) or written as CSV as the export writes it.
//
// The wanted rows are copied, sorted, into a coin table of their own in a
// temporary folder, which the report run and the CSV writer walk; the
// collection's table is only read, in its current filter (the search result
// in search mode), and its cursor is left where it stood.
#pragma once

#include <memory>

#include <QString>
#include <QTemporaryDir>

#include "app/Settings.h"
#include "db/dbf/Table.h"
#include "report/ReportDef.h"
#include "report/ReportRun.h"
#include "stats/Statistics.h"

namespace klv::stats {

// Orders Year texts in time: the leading digits as a year, BC years before
// every other (the older first), texts without digits and blank texts last.
int YearOrderKey(std::string_view year);

class WantList {
 public:
  // Copies the wanted rows of source. Throws what the tables throw.
  explicit WantList(dbf::Table& source, const Progress& progress = {});
  ~WantList();
  WantList(const WantList&) = delete;
  WantList& operator=(const WantList&) = delete;

  // The sorted copy, open, on its first row; its text format is source's.
  dbf::Table& table() { return *table_; }
  uint64_t rows() const { return rows_; }

 private:
  QTemporaryDir dir_;
  std::unique_ptr<dbf::Table> table_;
  uint64_t rows_ = 0;
};

// The definition the want list prints with: one line per coin, Country,
// Face Value, Year, Mint Mark, Condition and Comment, with column headers.
report::ReportDef WantListDef();

// The list as CSV with a header line of the captions, as the CSV export
// writes it (UTF-8, through a temporary file). Throws base::Error.
void WriteWantListCsv(WantList& list, const app::PerField<QString>& captions, const QString& path);
// The list as a PDF file (kModePrint) or as a text file (kModeFile), through
// the report engine. False when the file was not written.
bool WriteWantListReport(WantList& list, const report::RunSetup& setup, const QString& path);

}  // namespace klv::stats
