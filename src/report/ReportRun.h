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
// - Groups follow the order the rows are walked in: the first two fields
//   of the table's active index (none when the table walks in record
//   order), whatever the sort settings say. A group header or footer, or
//   the final totals, that do not fit where they fall move to the next
//   page, before any further record; group totals that open a page name
//   their group. Without groups the final totals are the grand totals
//   alone; a group of blank values gets no caption box.
// - Every value a field can hold prints whole: each line's columns are
//   fitted to the widest texts their items can show (ReportLayout.h), and
//   no label or value is ever cut: on the page a text wider than its
//   column prints narrowed to fit; in the text file a text longer than its
//   column pushes the rest of the line to the right. (Only column captions
//   are cut, where even half their width does not fit.)
// - With the definition's obverse pictures on, a printed or viewed report of
//   a table with any obverse picture keeps a column at the left of every
//   record for it: about as wide as the record's lines are high (0.6 to
//   1.25 inches), the record lines fitted into the rest of the width. A
//   record takes at least the column's width in height and is never split
//   over two pages; one without a picture leaves the column empty. Without
//   pictures, and in the text file, the pages are as they were without the
//   option.
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
#include <vector>

#include <QHash>
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
  app::PerField<QString> captions;  // the field caption table
  app::NumberFormats formats;       // numbers and amounts
  QString today;                    // the date the page footers show
  QString text_file;                // mode 3: the file written
};

// The totals of one set, in totals-field order.
struct Totals {
  double market = 0, purchase = 0, premium = 0, quantity = 0;
  void Add(double q, double purchase_price, double market_value, double premium_value);
};

// The setup of a run on the open database: its field captions and number
// formats, and today's date in its short date format.
RunSetup MakeRunSetup(app::OpenDatabase& db, int mode, const QString& text_file);

// A field the rows are ordered by, as the active index compares it: its
// first key_chars characters (all when 0), letter case ignored when
// fold_case.
struct GroupKey {
  int field = 0;
  int key_chars = 0;
  bool fold_case = false;
  bool operator==(const GroupKey&) const = default;
};
// The first two fields of table's active index expression, in order; none
// (field 0) when no index is active or its expression names no field term
// by term.
std::array<GroupKey, 2> WalkOrderKeys(const dbf::Table& table);

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

  // The group fields of the run (0: none), once it has started.
  int level1_field() const { return level1_.field; }
  int level2_field() const { return level2_.field; }

 private:
  // A line's columns as this run prints them: characters in the text file,
  // inches on the page.
  struct Columns {
    std::vector<int> chars;
    std::vector<double> inches;
  };
  bool FileMode() const { return setup_.mode == kModeFile; }
  void UseFont(const ReportFont& font);
  // room: the inches the line's columns share on the page.
  Columns FitLine(const ReportLine& line, bool totals_line, double room);
  // The obverse pictures of the table's rows, when the run prints them.
  void LoadPictures();
  // The lines a record takes on the page.
  int RecordLines() const { return block_lines_; }
  // Where record lines and their header row begin: right of the pictures.
  double RecordLeft() const { return engine_.MarginLeft() + picture_column_; }
  void PrintPicture(double top);
  // left: where the line's first column begins.
  void SetLineTabs(const Columns& columns, const ReportLine& line, bool with_box, bool header_row,
                   double left);
  QString FieldText(int field_no);
  QString TotalsText(const Totals& totals, int field);
  void PrintItems(const ReportLine& line, const Columns& columns,
                  const std::function<QString(const ReportItem&)>& value);
  void PrintRecordLine(const ReportLine& line, const Columns& columns);
  void PrintTotalsLine(const Totals& totals);
  // A line of the text file; advance: the engine moves down a line too.
  void WriteText(const QString& line, bool advance = true);
  bool Fits(int lines) const;
  bool TryGroupHeader();
  bool TryGroupFooter();
  bool TryFinalTotals();
  QString GroupCaption() const;
  // "TOTALS", naming the group when nothing of it is on this page.
  QString GroupTotalsCaption(const QString& group) const;
  void PrintTotalsCaption(const QString& caption);
  void PrintCenteredBox(const QString& caption, int box);
  void SetRecordTabs();

  const ReportDef def_;  // its own copy: the caller's may be a temporary
  dbf::Table& table_;
  engine::TBaseReport& engine_;
  RunSetup setup_;

  int width_chars_ = 90;    // W
  double printable_ = 7.5;  // P, inches
  std::array<Columns, kMaxRecordLines> line_columns_;
  Columns totals_columns_;
  std::vector<QString> cells_;  // the texts of the line being printed
  QString text_line_;           // and of the text file's line
  QByteArray text_bytes_;       // as written
  // The table's fields by number (FieldTable.h), nullptr where it has none.
  std::array<const dbf::Field*, 21> fields_{};
  QHash<uint32_t, QString> obverse_;  // record number to its picture's file
  double picture_column_ = 0;         // inches; 0: no pictures
  int block_lines_ = 0;               // a record's lines with the picture beside them
  GroupKey level1_, level2_;
  QString group1_, group2_;  // the current group's values as printed
  QString key1_, key2_;      // and as the walk compares them
  QString closing_group_;    // the caption of the group a pending footer closes
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
