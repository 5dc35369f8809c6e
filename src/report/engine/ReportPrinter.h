// The engine's printer side: the system's printer list (CUPS, through Qt
// Print Support), TReportPrinter, which prints a report's pages as the run
// finishes them, and TFilePrinter, which prints stored pages again. Both
// draw through PaintPage, as the preview does.
//
// With no printer defined both refuse, saying texts::kNoPrinters through the
// prompts service.
#pragma once

#include <memory>

#include <QPrinter>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"

namespace klv::report::engine {

// The names of the system's printers, in the order the printer index counts.
QStringList PrinterNames();
// The paper of printer index (-1: the default printer; an index that names
// no printer any more stands for the default too), portrait; the locale's
// paper (LocalePaper) when the system has no printer.
PaperSize PrinterPaper(int index);
// A printer set up for index (-1, or an index that names no printer any
// more: the default printer, else the first), printing whole pages from the
// paper's corner; nullptr (after saying so) only when the system has no
// printer. parent: of the message.
std::unique_ptr<QPrinter> OpenPrinter(int index, QWidget* parent);

class TReportPrinter : public TPaintedReport {
 public:
  // The message about a missing printer is parented to parent.
  void SetMessageParent(QWidget* parent) { parent_ = parent; }
  QPrinter* printer() const { return printer_.get(); }

 protected:
  QPagedPaintDevice* OpenDevice() override;
  void CloseDevice(bool aborted) override;

 private:
  QWidget* parent_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
};

class TFilePrinter {
 public:
  void SelectPrinter(int index) { printer_index_ = index; }
  void SetMessageParent(QWidget* parent) { parent_ = parent; }
  // While a print job of this object runs (it lets the window work between
  // pages).
  bool Busy() const { return busy_; }
  // Prints every page of pages, or pages first to last (from 1) copies times.
  // False when nothing was printed (no printer, busy, or an empty range).
  bool Print(const StoredPages& pages);
  bool PrintPages(const StoredPages& pages, int first, int last, int copies);
  // For tests and PDF: the same pages on a device already set up.
  static void PaintPages(QPagedPaintDevice& device, const StoredPages& pages, int first, int last,
                         bool process_events);

 private:
  int printer_index_ = -1;
  QWidget* parent_ = nullptr;
  bool busy_ = false;
};

}  // namespace klv::report::engine
