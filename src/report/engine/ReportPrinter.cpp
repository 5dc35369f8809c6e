#include "report/engine/ReportPrinter.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinterInfo>

#include "base/Error.h"
#include "platform/Prompts.h"
#include "report/engine/EngineTexts.h"

namespace klv::report::engine {

namespace {

// The printer of index; the default printer for -1 and for a stored index
// that names no printer any more (one was removed); the first printer when
// no default is set. Null only when the system has no printer.
QPrinterInfo PrinterAt(int index) {
  const QStringList names = PrinterNames();
  if (index >= 0 && index < names.size()) return QPrinterInfo::printerInfo(names[index]);
  QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull() && !names.isEmpty()) info = QPrinterInfo::printerInfo(names.front());
  return info;
}

}  // namespace

QStringList PrinterNames() {
  return QPrinterInfo::availablePrinterNames();
}

PaperSize PrinterPaper(int index) {
  const QPrinterInfo info = PrinterAt(index);
  if (info.isNull()) return LocalePaper();
  const QSizeF size = info.defaultPageSize().size(QPageSize::Inch);
  if (size.width() <= 0 || size.height() <= 0) return LocalePaper();
  return PaperSize{std::min(size.width(), size.height()), std::max(size.width(), size.height())};
}

std::unique_ptr<QPrinter> OpenPrinter(int index, QWidget* parent) {
  const QPrinterInfo info = PrinterAt(index);
  if (info.isNull()) {
    platform::prompts().Notify(parent, QString::fromLatin1(texts::kCaptionError),
                               QString::fromLatin1(texts::kNoPrinters), platform::MsgIcon::kError);
    return nullptr;
  }
  auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
  printer->setFullPage(true);
  return printer;
}

QPagedPaintDevice* TReportPrinter::OpenDevice() {
  printer_ = OpenPrinter(printer_index(), parent_);
  if (!printer_) return nullptr;
  const QSizeF size = printer_->pageLayout().pageSize().size(QPageSize::Inch);
  SetPaper(PaperSize{std::min(size.width(), size.height()), std::max(size.width(), size.height())});
  printer_->setPageOrientation(orientation() == Orientation::kLandscape ? QPageLayout::Landscape
                                                                        : QPageLayout::Portrait);
  printer_->setDocName(QStringLiteral("Kolvane Coins 97"));
  return printer_.get();
}

void TReportPrinter::CloseDevice(bool aborted) {
  if (aborted && printer_) printer_->abort();
  printer_.reset();
}

void TFilePrinter::PaintPages(QPagedPaintDevice& device, const StoredPages& pages, int first,
                              int last, bool process_events) {
  QPainter painter;
  PaintCache cache;
  for (int n = first; n <= last; ++n) {
    const Page page = pages.Read(n);
    if (n == first) {
      const bool landscape = page.width > page.height;
      device.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
      if (!painter.begin(&device))
        base::Fail(base::ErrorCode::kIo, "The report could not be printed.");
    } else if (!device.newPage()) {
      base::Fail(base::ErrorCode::kIo, "The report could not be printed.");
    }
    PageTransform(painter, 1.0);
    PaintPage(painter, page, /*monochrome=*/false, &cache);
    if (process_events) QCoreApplication::processEvents();
  }
  if (painter.isActive()) painter.end();
}

bool TFilePrinter::Print(const StoredPages& pages) {
  return PrintPages(pages, 1, pages.PageCount(), 1);
}

bool TFilePrinter::PrintPages(const StoredPages& pages, int first, int last, int copies) {
  if (busy_) return false;
  first = std::max(first, 1);
  last = std::min(last, pages.PageCount());
  if (first > last) return false;
  std::unique_ptr<QPrinter> printer = OpenPrinter(printer_index_, parent_);
  if (!printer) return false;
  printer->setCopyCount(std::max(copies, 1));
  busy_ = true;
  struct Idle {
    bool& busy;
    ~Idle() { busy = false; }
  } idle{busy_};
  PaintPages(*printer, pages, first, last, /*process_events=*/true);
  return true;
}

}  // namespace klv::report::engine
