#include "report/engine/PaintedReport.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QStringList>
#include <QtGlobal>

#include "base/Error.h"

namespace klv::report::engine {

PaperSize LocalePaper() {
  QString locale;
  for (const char* name : {"LC_ALL", "LC_PAPER", "LANG"}) {
    locale = qEnvironmentVariable(name);
    if (!locale.isEmpty()) break;
  }
  // language[_TERRITORY][.codeset][@modifier]
  const qsizetype underscore = locale.indexOf(QLatin1Char('_'));
  if (underscore < 0) return kLetterPaper;
  const QString territory = locale.mid(underscore + 1, 2).toUpper();
  static const QStringList letter = {
      QStringLiteral("US"), QStringLiteral("CA"), QStringLiteral("MX"), QStringLiteral("PH"),
      QStringLiteral("CL"), QStringLiteral("CO"), QStringLiteral("VE"), QStringLiteral("CR"),
      QStringLiteral("GT"), QStringLiteral("PA"), QStringLiteral("PR"), QStringLiteral("SV"),
      QStringLiteral("NI"), QStringLiteral("BZ"), QStringLiteral("PE")};
  return letter.contains(territory) ? kLetterPaper : kA4Paper;
}

std::optional<PaperSize> PaperNamed(const QString& name) {
  if (name.compare(QLatin1String("a4"), Qt::CaseInsensitive) == 0) return kA4Paper;
  if (name.compare(QLatin1String("letter"), Qt::CaseInsensitive) == 0) return kLetterPaper;
  return std::nullopt;
}

void SetUpPage(QPagedPaintDevice& device, PaperSize paper, Orientation orientation) {
  const QPageSize size(QSizeF(paper.width, paper.height), QPageSize::Inch, QString(),
                       QPageSize::ExactMatch);
  const QPageLayout layout(
      size, orientation == Orientation::kLandscape ? QPageLayout::Landscape : QPageLayout::Portrait,
      QMarginsF(0, 0, 0, 0), QPageLayout::Inch);
  device.setPageLayout(layout);
}

bool TPaintedReport::BeginDoc() {
  pages_printed_ = 0;
  paint_cache_ = std::make_unique<PaintCache>();
  device_ = OpenDevice();
  return device_ != nullptr;
}

void TPaintedReport::EndPage(Page& page) {
  if (!painter_) {
    painter_ = std::make_unique<QPainter>();
    if (!painter_->begin(device_)) {
      painter_.reset();
      base::Fail(base::ErrorCode::kIo, "The report could not be printed.");
    }
  } else if (!device_->newPage()) {
    base::Fail(base::ErrorCode::kIo, "The report could not be printed.");
  }
  PageTransform(*painter_, 1.0);
  PaintPage(*painter_, page, Monochrome, paint_cache_.get());
  ++pages_printed_;
}

void TPaintedReport::EndDoc(bool aborted) {
  if (painter_) painter_->end();
  painter_.reset();
  paint_cache_.reset();
  CloseDevice(aborted);
  device_ = nullptr;
}

QPagedPaintDevice* TPdfReport::OpenDevice() {
  written_ = false;
  file_ = std::make_unique<QSaveFile>(path_);
  if (!file_->open(QIODevice::WriteOnly)) {
    const QString why = file_->errorString();
    file_.reset();
    base::Fail(base::ErrorCode::kIo,
               QStringLiteral("%1 cannot be written: %2").arg(path_, why).toStdString());
  }
  writer_ = std::make_unique<QPdfWriter>(file_.get());
  writer_->setResolution(1200);
  writer_->setCreator(QStringLiteral("Kolvane Coins 97"));
  writer_->setTitle(title_);
  SetUpPage(*writer_, paper(), orientation());
  return writer_.get();
}

void TPdfReport::CloseDevice(bool aborted) {
  writer_.reset();
  if (!file_) return;
  if (aborted || PagesPrinted() == 0) {
    file_->cancelWriting();
    file_->commit();
    file_.reset();
    return;
  }
  written_ = file_->commit();
  const QString why = file_->errorString();
  file_.reset();
  if (!written_)
    base::Fail(base::ErrorCode::kIo,
               QStringLiteral("%1 cannot be written: %2").arg(path_, why).toStdString());
}

}  // namespace klv::report::engine
