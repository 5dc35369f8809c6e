// One report run, without a window: a report definition and the open coin
// table turned into pages through an engine target, in one of three modes
// (1 print, 2 view into stored pages, 3 print to a text file). The status
// form (Rpform.h) owns one and shows its progress; the command line runs one
// with no window at all.
//
// The table is walked from its first row in its current order and filter
// (the search result in search mode), one row at a time: nothing but the
// current page is held, so time and memory grow with the pages kept, never
// with the table.
//
// Promises:
// - Groups follow the first two sort levels that name a field; a group
//   header or footer, or the final totals, that do not fit where they fall
//   move to the next page, before any further record.
// - A page always advances the run: what does not fit even on an empty page
//   is printed there anyway, so no definition runs forever.
// - Mode 3 writes its text file through a temporary file renamed into place
//   when the run completes: an aborted or failed run leaves nothing new under
//   the chosen name (an earlier file of that name stays as it was).
// - The table's bound controls are suspended for the run and resumed after
//   it, however it ends; the table is left on the row it stood on.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QSaveFile>
#include <QString>

#include "app/Formats.h"
#include "app/OpenDatabase.h"
#include "app/Settings.h"
#include "db/dbf/Table.h"
#include "report/ReportDef.h"
#include "report/engine/BaseReport.h"

namespace klv::report {

enum ReportMode : int { kModePrint = 1, kModeView = 2, kModeFile = 3 };

// What a run needs besides the definition, the table and the target.
struct RunSetup {
  int mode = kModeView;
  std::array<int, 4> sort_levels{};  // the sort order in force
  app::PerField<QString> captions;   // the field caption table
  app::NumberFormats formats;        // numbers and amounts
  QString today;                     // the date the page footers show
  QString text_file;                 // mode 3: the file written
};

// The totals of one set, in totals-field order.
struct Totals {
  double market = 0, purchase = 0, premium = 0, quantity = 0;
  void Add(double q, double purchase_price, double market_value, double premium_value);
};

// The setup of a run on the open database: its sort order, field captions
// and number formats, and today's date in its short date format.
RunSetup MakeRunSetup(app::OpenDatabase& db, int mode, const QString& text_file);

class ReportGenerator {
 public:
  // The generator installs itself as engine's handlers; engine and table
  // must outlive it.
  ReportGenerator(const ReportDef& def, dbf::Table& table, engine::TBaseReport& engine,
                  RunSetup setup);
  ~ReportGenerator();
  ReportGenerator(const ReportGenerator&) = delete;
  ReportGenerator& operator=(const ReportGenerator&) = delete;

  // Called for every record printed: the status form lets the window work
  // (and Cancel be pressed) from here.
  std::function<void()> OnRecord;

  // Runs the report; false when the target refused to start. Throws what
  // the table, the target or the text file throw (the run is then ended).
  bool Run();
  bool Aborted() const { return engine_.Aborted(); }
  int RecordsPrinted() const { return records_; }

  // The engine's handlers.
  void MyBeforePrintReport();
  void MyPrintHeaderReport();
  bool MyPrintPageReport();
  void MyPrintFooterReport();
  void MyAfterPrintReport();

  // The group fields the sort levels give (0: none), as the run uses them.
  int level1_field() const { return level1_; }
  int level2_field() const { return level2_; }

 private:
  bool FileMode() const { return setup_.mode == kModeFile; }
  void UseFont(const ReportFont& font);
  void SetLineTabs(const ReportLine& line, bool with_box, bool header_row);
  QString FieldText(int field_no);
  QString TotalsText(const Totals& totals, int field);
  void PrintItems(const ReportLine& line, const std::function<QString(const ReportItem&)>& value);
  void PrintRecordLine(const ReportLine& line);
  void PrintTotalsLine(const Totals& totals);
  // A line of the text file; advance: the engine moves down a line too.
  void WriteText(const QString& line, bool advance = true);
  bool Fits(int lines) const;
  bool TryGroupHeader();
  bool TryGroupFooter();
  bool TryFinalTotals();
  void PrintTotalsCaption(const QString& caption);
  void PrintCenteredBox(const QString& caption, int box);
  void SetRecordTabs();

  const ReportDef def_;  // its own copy: the caller's may be a temporary
  dbf::Table& table_;
  engine::TBaseReport& engine_;
  RunSetup setup_;

  int width_chars_ = 90;    // W
  double printable_ = 7.5;  // P, inches
  int level1_ = 0, level2_ = 0;
  QString group1_, group2_;
  bool header_pending_ = false, footer_pending_ = false, first_group_ = true;
  bool final_pending_ = false;
  bool body_empty_ = true;  // nothing printed in this page's body yet
  Totals group_totals_, grand_totals_;
  std::unique_ptr<QSaveFile> file_;
  bool controls_disabled_ = false;
  uint32_t start_row_ = 0;  // the record the table stood on
  int records_ = 0;
};

}  // namespace klv::report
