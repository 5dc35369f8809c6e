#include "report/engine/BaseReport.h"

#include <algorithm>
#include <cmath>

namespace klv::report::engine {

namespace {

// Texts are measured at this resolution; the pages are drawn with hinting
// off, so their widths scale to any device.
constexpr int kMeasureDpi = 1200;
// A line is this many times the font's size.
constexpr double kLineSpacing = 1.2;
// Rounding slack when counting the lines that fit.
constexpr double kEpsilon = 1e-9;

}  // namespace

TBaseReport::TBaseReport() : measure_device_(1, 1, QImage::Format_RGB32) {
  const int per_metre = static_cast<int>(std::lround(kMeasureDpi / 0.0254));
  measure_device_.setDotsPerMeterX(per_metre);
  measure_device_.setDotsPerMeterY(per_metre);
  font_.name = QStringLiteral("Arial");
}

TBaseReport::~TBaseReport() = default;

double TBaseReport::PageWidth() const {
  return orientation_ == Orientation::kLandscape ? paper_.height : paper_.width;
}

double TBaseReport::PageHeight() const {
  return orientation_ == Orientation::kLandscape ? paper_.width : paper_.height;
}

QString TBaseReport::StatusText() const {
  QString out;
  const QString& f = StatusFormat;
  for (qsizetype i = 0; i < f.size(); ++i) {
    if (f[i] == QLatin1Char('%') && i + 1 < f.size()) {
      const QChar c = f[i + 1];
      if (c == QLatin1Char('p')) {
        out += QString::number(page_number_);
        ++i;
        continue;
      }
      if (c == QLatin1Char('0') || c == QLatin1Char('1')) {
        out += StatusLine[c == QLatin1Char('0') ? 0 : 1];
        ++i;
        continue;
      }
    }
    out += f[i];
  }
  return out;
}

void TBaseReport::UpdateStatus() {
  if (OnStatus) OnStatus(StatusText());
}

void TBaseReport::StartPage() {
  page_ = Page{};
  page_.width = ToMils(PageWidth());
  page_.height = ToMils(PageHeight());
  section_top_ = 0;
  section_bottom_ = PageHeight();
  y_ = 0;
  next_tab_ = 0;
}

bool TBaseReport::Execute() {
  aborted_ = false;
  page_number_ = 0;
  if (!BeginDoc()) {
    aborted_ = true;
    return false;
  }
  running_ = true;
  struct Finish {
    TBaseReport& r;
    bool done = false;
    ~Finish() {
      if (done) return;
      // An exception is on its way: end the document as aborted.
      r.running_ = false;
      r.aborted_ = true;
      try {
        if (r.OnAfterPrint) r.OnAfterPrint();
      } catch (...) {
      }
      try {
        r.EndDoc(true);
      } catch (...) {
      }
    }
  } finish{*this};
  if (OnBeforePrint) OnBeforePrint();
  bool more = !aborted_;
  while (more && !aborted_) {
    ++page_number_;
    StartPage();
    UpdateStatus();
    if (OnPrintHeader) OnPrintHeader();
    if (aborted_) break;
    more = OnPrintPage ? OnPrintPage() : false;
    if (aborted_) break;
    if (OnPrintFooter) OnPrintFooter();
    if (aborted_) break;
    EndPage(page_);
  }
  finish.done = true;
  running_ = false;
  if (OnAfterPrint) OnAfterPrint();
  EndDoc(aborted_);
  return true;
}

void TBaseReport::Home() {
  y_ = section_top_;
  next_tab_ = 0;
}

double TBaseReport::LineHeight() const {
  return font_.points * kLineSpacing / 72.0;
}

int TBaseReport::LinesLeft() const {
  const double room = section_bottom_ - y_;
  if (room <= 0) return 0;
  return static_cast<int>(std::floor(room / LineHeight() + kEpsilon));
}

void TBaseReport::NewLine() {
  y_ += LineHeight();
  next_tab_ = 0;
}

void TBaseReport::SetFont(const QString& name, double points) {
  font_.name = name;
  font_.points = points > 0 ? points : 10;
}
void TBaseReport::SetBold(bool on) {
  font_.bold = on;
}
void TBaseReport::SetItalic(bool on) {
  font_.italic = on;
}
void TBaseReport::SetUnderline(bool on) {
  font_.underline = on;
}
void TBaseReport::SetStrikeout(bool on) {
  font_.strikeout = on;
}

void TBaseReport::ClearTabs() {
  tabs_.clear();
  next_tab_ = 0;
}

void TBaseReport::SetTab(double position, Justify justify, double width, int margin, int box,
                         int shade) {
  double x = position;
  if (x < 0) x = tabs_.empty() ? margin_left_ : tabs_.back().x + tabs_.back().width;
  tabs_.push_back(Tab{x, width, justify, margin, box, shade});
}

double TBaseReport::TabWidth(int n) const {
  if (n < 1 || n > TabCount()) return 0;
  const Tab& t = tabs_[static_cast<size_t>(n - 1)];
  return std::max(0.0, t.width - 2 * t.margin / 100.0);
}

const QFontMetricsF& TBaseReport::Metrics() {
  if (metrics_index_ >= 0 && metrics_[static_cast<size_t>(metrics_index_)].first == font_) {
    return *metrics_[static_cast<size_t>(metrics_index_)].second;
  }
  for (size_t i = 0; i < metrics_.size(); ++i) {
    if (metrics_[i].first == font_) {
      metrics_index_ = static_cast<int>(i);
      return *metrics_[i].second;
    }
  }
  metrics_.emplace_back(
      font_, std::make_unique<QFontMetricsF>(QtFontOf(font_, font_.points), &measure_device_));
  metrics_index_ = static_cast<int>(metrics_.size() - 1);
  return *metrics_.back().second;
}

double TBaseReport::TextWidth(const QString& text) {
  return Metrics().horizontalAdvance(text) / kMeasureDpi;
}

QString TBaseReport::FitText(const QString& text, double width) {
  if (TextWidth(text) <= width + kEpsilon) return text;
  // The longest beginning that fits, found by halving: widths grow with
  // every character added.
  qsizetype lo = 0, hi = text.size();
  while (lo < hi) {
    const qsizetype mid = (lo + hi + 1) / 2;
    if (TextWidth(text.left(mid)) <= width + kEpsilon) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return text.left(lo);
}

void TBaseReport::AddCell(double x, double width, Justify justify, int margin, int box, int shade,
                          const QString& text) {
  if (text.isEmpty() && box == 0 && shade == 0) return;
  PageCell c;
  c.x = ToMils(x);
  c.y = ToMils(y_);
  // The right edge rounded on its own, so that neighbouring cells meet.
  c.width = ToMils(x + width) - c.x;
  c.height = ToMils(y_ + LineHeight()) - c.y;
  c.margin = margin * kMilsPerInch / 100;
  c.font = page_.FontIndex(font_);
  c.justify = justify;
  c.box = static_cast<uint8_t>(box & 15);
  c.shade = static_cast<uint8_t>(std::clamp(shade, 0, 100));
  c.text = text;
  page_.cells.push_back(std::move(c));
}

void TBaseReport::PrintPiece(const QString& piece) {
  if (next_tab_ >= TabCount()) {
    // No tab left: the piece goes at the left margin, as a plain text.
    if (!piece.isEmpty()) PrintLeft(piece);
    return;
  }
  const Tab& t = tabs_[static_cast<size_t>(next_tab_)];
  ++next_tab_;
  AddCell(t.x, t.width, t.justify, t.margin, t.box, t.shade, piece);
}

void TBaseReport::Print(const QString& text) {
  qsizetype from = 0;
  for (qsizetype tab; (tab = text.indexOf(QLatin1Char('\t'), from)) >= 0; from = tab + 1)
    PrintPiece(text.mid(from, tab - from));
  // A text without tabs is its one piece as it is.
  PrintPiece(from == 0 ? text : text.mid(from));
}

void TBaseReport::PrintTabsLn(const std::vector<QString>& pieces) {
  for (const QString& piece : pieces) PrintPiece(piece);
  NewLine();
}

void TBaseReport::PrintLn(const QString& text) {
  Print(text);
  NewLine();
}

void TBaseReport::PrintCenter(const QString& text, double x) {
  const double w = TextWidth(text);
  AddCell(x - w / 2, w, kJustifyCenter, 0, 0, 0, text);
}

void TBaseReport::PrintLeft(const QString& text) {
  AddCell(margin_left_, PageWidth() - margin_left_ - margin_right_, kJustifyLeft, 0, 0, 0, text);
}

void TBaseReport::PrintCenterLine(const QString& text) {
  AddCell(margin_left_, PageWidth() - margin_left_ - margin_right_, kJustifyCenter, 0, 0, 0, text);
}

void TBaseReport::PrintRight(const QString& text) {
  AddCell(margin_left_, PageWidth() - margin_left_ - margin_right_, kJustifyRight, 0, 0, 0, text);
}

void TBaseReport::PrintImage(double x, double y, double width, double height, const QString& path) {
  PageImage image;
  image.x = ToMils(x);
  image.y = ToMils(y);
  image.width = ToMils(x + width) - image.x;
  image.height = ToMils(y + height) - image.y;
  image.path = path;
  page_.images.push_back(std::move(image));
}

}  // namespace klv::report::engine
