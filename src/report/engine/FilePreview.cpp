#include "report/engine/FilePreview.h"

#include <algorithm>
#include <cmath>

#include <QPainter>
#include <QScrollBar>

namespace klv::report::engine {

namespace {

constexpr double kMinZoom = 10;
constexpr double kMaxZoom = 500;
constexpr double kZoomStep = 10;

}  // namespace

// The grey ground with the page on it.
class PreviewPage : public QWidget {
 public:
  explicit PreviewPage(TFilePreview& owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(128, 128, 128));
    if (owner_.current_ == 0) return;
    Draw(painter, owner_);
  }

 public:
  static void Draw(QPainter& painter, const TFilePreview& o) {
    const int m = o.MarginPixels();
    const QSize size = o.PageSizePixels();
    if (o.ShadowDepth > 0)
      painter.fillRect(QRect(QPoint(m + o.ShadowDepth, m + o.ShadowDepth), size), Qt::black);
    painter.fillRect(QRect(QPoint(m, m), size), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PageTransform(painter, o.zoom_ / 100.0, m, m);
    PaintPage(painter, o.page_, o.monochrome_);
  }

 private:
  TFilePreview& owner_;
};

TFilePreview::TFilePreview(QWidget* parent) : QScrollArea(parent) {
  canvas_ = new PreviewPage(*this);
  setWidget(canvas_);
  setWidgetResizable(false);
  setAlignment(Qt::AlignCenter);
  setBackgroundRole(QPalette::Dark);
}

TFilePreview::~TFilePreview() = default;

void TFilePreview::Start() {
  pages_.Open(stream_);
  current_ = 0;
  if (PageCount() > 0) ShowPage(1);
  Relayout();
}

void TFilePreview::Finish() {
  pages_.Close();
  page_ = Page{};
  current_ = 0;
  Relayout();
}

void TFilePreview::ShowPage(int n) {
  if (!pages_.IsOpen() || n < 1 || n > PageCount()) return;
  page_ = pages_.Read(n);
  const bool changed = n != current_;
  current_ = n;
  Relayout();
  canvas_->update();
  if (changed) emit OnPageChange();
}

void TFilePreview::PrevPage() {
  ShowPage(current_ - 1);
}
void TFilePreview::NextPage() {
  ShowPage(current_ + 1);
}
void TFilePreview::PrintPage(int n) {
  ShowPage(n);
}

QSize TFilePreview::PageSizePixels() const {
  const double scale = zoom_ / 100.0;
  const int w = static_cast<int>(std::lround(ToInches(page_.width) * logicalDpiX() * scale));
  const int h = static_cast<int>(std::lround(ToInches(page_.height) * logicalDpiY() * scale));
  return QSize(std::max(w, 1), std::max(h, 1));
}

int TFilePreview::MarginPixels() const {
  return static_cast<int>(std::lround(PageSizePixels().width() * MarginPercent / 100.0));
}

void TFilePreview::Relayout() {
  const QSize size = PageSizePixels();
  const int m = MarginPixels();
  canvas_->resize(size.width() + 2 * m + ShadowDepth, size.height() + 2 * m + ShadowDepth);
}

void TFilePreview::SetZoomFactor(double percent) {
  percent = std::clamp(percent, kMinZoom, kMaxZoom);
  if (percent == zoom_) return;
  zoom_ = percent;
  Relayout();
  canvas_->update();
  emit OnZoomChange();
}

void TFilePreview::ZoomIn() {
  SetZoomFactor(zoom_ + kZoomStep);
}
void TFilePreview::ZoomOut() {
  SetZoomFactor(zoom_ - kZoomStep);
}

double TFilePreview::ZoomPageWidthFactor() const {
  const double page = ToInches(page_.width) * logicalDpiX() * (1 + 2 * MarginPercent / 100.0);
  const int room = viewport()->width() - verticalScrollBar()->sizeHint().width();
  if (page <= 0 || room <= 0) return zoom_;
  return std::clamp(100.0 * room / page, kMinZoom, kMaxZoom);
}

double TFilePreview::ZoomPageFactor() const {
  const double margins = 1 + 2 * MarginPercent / 100.0;
  const double w = ToInches(page_.width) * logicalDpiX() * margins;
  // The margin is a share of the width, on the top and bottom too.
  const double h =
      (ToInches(page_.height) + 2 * ToInches(page_.width) * MarginPercent / 100.0) * logicalDpiY();
  if (w <= 0 || h <= 0) return zoom_;
  const double f = std::min(viewport()->width() / w, viewport()->height() / h);
  return std::clamp(100.0 * f, kMinZoom, kMaxZoom);
}

void TFilePreview::RedrawPage() {
  Relayout();
  canvas_->update();
}

void TFilePreview::SetMonochrome(bool on) {
  if (Started()) return;
  monochrome_ = on;
}

QImage TFilePreview::Render() const {
  QImage image(canvas_->size(), QImage::Format_RGB32);
  image.setDevicePixelRatio(1);
  image.setDotsPerMeterX(static_cast<int>(std::lround(logicalDpiX() / 0.0254)));
  image.setDotsPerMeterY(static_cast<int>(std::lround(logicalDpiY() / 0.0254)));
  image.fill(QColor(128, 128, 128));
  if (current_ > 0) {
    QPainter painter(&image);
    PreviewPage::Draw(painter, *this);
  }
  return image;
}

}  // namespace klv::report::engine
