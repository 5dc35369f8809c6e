// The report engine's run and drawing interface, TBaseReport, shared by its
// targets: the code that decides what goes on each page (the handlers) calls
// these operations; the engine lays the page out as a Page (ReportPage.h)
// and hands each finished page to its target, which prints it, stores it or
// throws it away.
//
// Positions are in inches from the paper's top-left corner. The line height
// follows the current font: 1.2 times its size. Texts are measured in the
// font they are printed in, at printer resolution, so a text cut to a cell
// here fits that cell on every device the page is drawn on.
//
// A run (Execute) raises OnBeforePrint once, then for every page
// OnPrintHeader, OnPrintPage (which answers whether another page follows)
// and OnPrintFooter, then OnAfterPrint. Abort ends the run after the handler
// that is running; Aborted() tells afterwards. A handler that throws ends the
// run too: OnAfterPrint still runs, the target is finished as aborted, and
// the exception reaches Execute's caller.
#pragma once

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QString>

#include "report/engine/ReportPage.h"

namespace klv::report::engine {

enum class Orientation { kPortrait, kLandscape };

// The paper in inches, portrait.
struct PaperSize {
  double width = 8.5;
  double height = 11.0;
};

class TBaseReport {
 public:
  TBaseReport();
  virtual ~TBaseReport();
  TBaseReport(const TBaseReport&) = delete;
  TBaseReport& operator=(const TBaseReport&) = delete;

  // Events.
  std::function<void()> OnBeforePrint, OnPrintHeader, OnPrintFooter, OnAfterPrint;
  std::function<bool()> OnPrintPage;
  // Called with the status text whenever UpdateStatus runs.
  std::function<void(const QString&)> OnStatus;

  // The printer: an index in the system's printer list, or -1 for the
  // default printer; and the orientation. Set before a run.
  void SelectPrinter(int index) { printer_index_ = index; }
  int printer_index() const { return printer_index_; }
  void SetOrientation(Orientation orientation) { orientation_ = orientation; }
  Orientation orientation() const { return orientation_; }
  // The paper (portrait); the printer target takes its printer's.
  void SetPaper(PaperSize paper) { paper_ = paper; }

  // Runs the report; false when the target refused to start (it said why).
  bool Execute();
  void Abort() { aborted_ = true; }
  bool Aborted() const { return aborted_; }
  bool Running() const { return running_; }
  int CurrentPage() const { return page_number_; }

  // Status: "%p" stands for the page number, "%0" and "%1" for the two
  // status lines.
  QString StatusFormat = QStringLiteral("Printing page %p");
  QString StatusLine[2];
  QString StatusText() const;
  void UpdateStatus();

  // Page geometry, inches.
  void SetTopMargin(double v) { margin_top_ = v; }
  void SetBottomMargin(double v) { margin_bottom_ = v; }
  void SetLeftMargin(double v) { margin_left_ = v; }
  void SetRightMargin(double v) { margin_right_ = v; }
  double MarginLeft() const { return margin_left_; }
  double MarginRight() const { return margin_right_; }
  double MarginTop() const { return margin_top_; }
  double MarginBottom() const { return margin_bottom_; }
  double PageWidth() const;
  double PageHeight() const;

  // Sections and the print position.
  void SetSectionTop(double y) { section_top_ = y; }
  void SetSectionBottom(double y) { section_bottom_ = y; }
  // To the first line of the section, at the left margin.
  void Home();
  // Whole lines of the current height that still fit above the section
  // bottom.
  int LinesLeft() const;
  void NewLine();
  double LineHeight() const;
  double CursorY() const { return y_; }
  void GotoY(double y) { y_ = y; }

  // Fonts.
  void SetFont(const QString& name, double points);
  void SetBold(bool on);
  void SetItalic(bool on);
  void SetUnderline(bool on);
  void SetStrikeout(bool on);
  void SetFontColor(uint32_t rgb) { font_.rgb = rgb; }
  const PageFont& font() const { return font_; }

  // Tabs. A position below 0 (kAfterPrevious) places the tab right after the
  // previous one (the left margin for the first); margin is in hundredths of
  // an inch on each side; box is a set of BoxLine bits; shade a percentage.
  static constexpr double kAfterPrevious = -1;
  void ClearTabs();
  void SetTab(double position, Justify justify, double width, int margin, int box, int shade);
  int TabCount() const { return static_cast<int>(tabs_.size()); }
  // The usable width of tab n (from 1): its width less both margins.
  double TabWidth(int n) const;

  // Width of text in the current font, inches.
  double TextWidth(const QString& text);
  // text cut from its end until it is no wider than width (possibly empty).
  QString FitText(const QString& text, double width);
  // The text split at tab characters, each piece into the next tab of the
  // line, justified and boxed as that tab says.
  void Print(const QString& text);
  // Print, then a new line.
  void PrintLn(const QString& text);
  // The same for pieces already apart: each into the next tab, as if joined
  // by tab characters (a piece holds none).
  void PrintTabsLn(const std::vector<QString>& pieces);
  // On the current line, without advancing: text centred on x; left at the
  // left margin, centred or right at the right margin.
  void PrintCenter(const QString& text, double x);
  void PrintLeft(const QString& text);
  void PrintCenterLine(const QString& text);
  void PrintRight(const QString& text);
  // The picture of the file at path, drawn into the rectangle (inches) as
  // large as it fits, keeping its proportions (see PageImage).
  void PrintImage(double x, double y, double width, double height, const QString& path);

 protected:
  // The target: BeginDoc before the first event (false: refuse the run),
  // EndPage with each finished page, EndDoc after the last.
  virtual bool BeginDoc() { return true; }
  virtual void EndPage(Page& page) = 0;
  virtual void EndDoc(bool aborted) { (void)aborted; }
  // The portrait paper, for PageWidth and PageHeight.
  PaperSize paper() const { return paper_; }

 private:
  struct Tab {
    double x, width;
    Justify justify;
    int margin;  // hundredths of an inch
    int box, shade;
  };
  const QFontMetricsF& Metrics();
  void AddCell(double x, double width, Justify justify, int margin, int box, int shade,
               const QString& text);
  void StartPage();
  void PrintPiece(const QString& piece);

  int printer_index_ = -1;
  Orientation orientation_ = Orientation::kPortrait;
  PaperSize paper_;
  bool aborted_ = false;
  bool running_ = false;
  int page_number_ = 0;
  double margin_top_ = 0.5, margin_bottom_ = 0.5, margin_left_ = 0.5, margin_right_ = 0.5;
  double section_top_ = 0, section_bottom_ = 11;
  double y_ = 0;
  PageFont font_;
  std::vector<Tab> tabs_;
  int next_tab_ = 0;  // the tab the next piece of text goes into
  Page page_;
  // Text measurement: one metrics object per font, at printer resolution.
  QImage measure_device_;
  std::vector<std::pair<PageFont, std::unique_ptr<QFontMetricsF>>> metrics_;
  int metrics_index_ = -1;
};

}  // namespace klv::report::engine
