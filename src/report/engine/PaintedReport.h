// Targets that draw each page as soon as it is finished on a paged device:
// TPaintedReport on any QPagedPaintDevice its subclass opens (the printer
// target does so with the chosen printer), TPdfReport on a PDF file through
// Qt's PDF writer. Nothing of a page is kept once it is drawn.
//
// The PDF goes to a temporary file beside the chosen one, synced and renamed
// into place when the run completes: an aborted or failed run leaves the
// chosen name as it was.
#pragma once

#include <memory>
#include <optional>

#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QString>

#include "report/engine/BaseReport.h"

namespace klv::report::engine {

class TPaintedReport : public TBaseReport {
 public:
  bool Monochrome = false;
  int PagesPrinted() const { return pages_printed_; }

 protected:
  // The device to draw on, set up for the paper and orientation, or nullptr
  // to refuse the run (after saying why). Called by BeginDoc.
  virtual QPagedPaintDevice* OpenDevice() = 0;
  // After the last page; aborted when the run did not finish.
  virtual void CloseDevice(bool aborted) { (void)aborted; }

  bool BeginDoc() override;
  void EndPage(Page& page) override;
  void EndDoc(bool aborted) override;

 private:
  QPagedPaintDevice* device_ = nullptr;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<PaintCache> paint_cache_;  // for the run's pages
  int pages_printed_ = 0;
};

// The paper the user's locale uses: Letter where the locale's territory
// prints on it (the United States, Canada, Mexico and a few more) and for a
// locale naming none ("C", unset), A4 everywhere else. The locale is the
// first of LC_ALL, LC_PAPER and LANG that is set.
PaperSize LocalePaper();
// The paper named by a command-line value: "a4" or "letter", any letter
// case; nullopt for anything else.
std::optional<PaperSize> PaperNamed(const QString& name);
inline constexpr PaperSize kLetterPaper{8.5, 11.0};
inline constexpr PaperSize kA4Paper{210 / 25.4, 297 / 25.4};

// Sets device's page to the paper in orientation with no margins, so that
// its painter's origin is the paper's corner.
void SetUpPage(QPagedPaintDevice& device, PaperSize paper, Orientation orientation);

class TPdfReport : public TPaintedReport {
 public:
  // The PDF file written; a file of that name is replaced.
  explicit TPdfReport(QString path) : path_(std::move(path)) {}
  void SetTitle(const QString& title) { title_ = title; }
  // After the run: true when the file is in place.
  bool Written() const { return written_; }

 protected:
  QPagedPaintDevice* OpenDevice() override;
  void CloseDevice(bool aborted) override;

 private:
  QString path_;
  QString title_;
  std::unique_ptr<QSaveFile> file_;
  std::unique_ptr<QPdfWriter> writer_;
  bool written_ = false;
};

}  // namespace klv::report::engine
