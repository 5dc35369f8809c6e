#include "report/engine/ReportPage.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <zlib.h>

#include <QColor>
#include <QDataStream>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QtEndian>

#include "base/Error.h"

namespace klv::report::engine {

namespace {

// The first bytes of an encoded page, before compression.
constexpr quint32 kPageMagic = 0x4B4C5047;  // "KLPG"
// Version 2 adds the pictures; a page without any is written as version 1,
// as it always was.
constexpr quint16 kPageVersion = 1;
constexpr quint16 kPageWithImagesVersion = 2;
// Widths measured on the device may differ from the engine's by rounding:
// a text this little wider than its cell is drawn as it is.
constexpr double kNarrowingSlack = 0.002;

[[noreturn]] void Corrupt() {
  base::Fail(base::ErrorCode::kIo, "The stored report pages are damaged.");
}

}  // namespace

uint16_t Page::FontIndex(const PageFont& font) {
  for (size_t i = 0; i < fonts.size(); ++i) {
    if (fonts[i] == font) return static_cast<uint16_t>(i);
  }
  fonts.push_back(font);
  return static_cast<uint16_t>(fonts.size() - 1);
}

namespace {

// The page's bytes as QDataStream (version Qt_6_0, big-endian) writes them,
// which DecodePage reads back, into an array sized once: a page holds
// hundreds of values and a stream would pass each through its device.
class PageWriter {
 public:
  explicit PageWriter(char* at) : at_(at) {}
  void U8(quint8 v) { *at_++ = static_cast<char>(v); }
  void U16(quint16 v) { Put(v); }
  void U32(quint32 v) { Put(v); }
  void F64(double v) {
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    Put(bits);
  }
  // Its length in bytes, then its UTF-16 units; a null text only the length
  // 0xFFFFFFFF.
  void Text(const QString& text) {
    if (text.isNull()) {
      U32(0xFFFFFFFFu);
      return;
    }
    U32(static_cast<quint32>(text.size() * 2));
    qToBigEndian<quint16>(text.utf16(), text.size(), at_);
    at_ += text.size() * 2;
  }
  static qsizetype TextSize(const QString& text) {
    return 4 + (text.isNull() ? 0 : text.size() * 2);
  }
  char* at() const { return at_; }

 private:
  template <typename T>
  void Put(T v) {
    qToBigEndian(v, at_);
    at_ += sizeof v;
  }
  char* at_;
};

// qCompress's bytes (the length big-endian, then zlib's stream at the level
// given) from one compressor kept for the thread's life: setting zlib up
// anew for every page cost more than compressing it.
class Compressor {
 public:
  explicit Compressor(int level) {
    if (deflateInit(&stream_, level) != Z_OK) base::Fail(base::ErrorCode::kIo, "zlib failed.");
  }
  ~Compressor() { deflateEnd(&stream_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  QByteArray Compress(const QByteArray& raw) {
    if (deflateReset(&stream_) != Z_OK) base::Fail(base::ErrorCode::kIo, "zlib failed.");
    const uLong bound = deflateBound(&stream_, static_cast<uLong>(raw.size()));
    QByteArray out(static_cast<qsizetype>(4 + bound), Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(raw.size()), out.data());
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.constData()));
    stream_.avail_in = static_cast<uInt>(raw.size());
    stream_.next_out = reinterpret_cast<Bytef*>(out.data() + 4);
    stream_.avail_out = static_cast<uInt>(bound);
    if (deflate(&stream_, Z_FINISH) != Z_STREAM_END)
      base::Fail(base::ErrorCode::kIo, "zlib failed.");
    out.truncate(static_cast<qsizetype>(4 + stream_.total_out));
    return out;
  }

 private:
  z_stream stream_{};
};

}  // namespace

QByteArray EncodePage(const Page& page) {
  // The header, then each font, cell and picture with its texts.
  qsizetype size = 4 + 2 + 4 + 4 + 4 + 4 + (page.images.empty() ? 0 : 4);
  for (const PageFont& f : page.fonts) size += PageWriter::TextSize(f.name) + 8 + 1 + 4;
  for (const PageCell& c : page.cells) size += 4 * 4 + 2 + 2 + 3 + PageWriter::TextSize(c.text);
  for (const PageImage& i : page.images) size += 4 * 4 + PageWriter::TextSize(i.path);
  QByteArray raw(size, Qt::Uninitialized);
  PageWriter out(raw.data());
  const quint16 version = page.images.empty() ? kPageVersion : kPageWithImagesVersion;
  out.U32(kPageMagic);
  out.U16(version);
  out.U32(static_cast<quint32>(page.width));
  out.U32(static_cast<quint32>(page.height));
  out.U32(static_cast<quint32>(page.fonts.size()));
  for (const PageFont& f : page.fonts) {
    const quint8 style = quint8((f.bold ? 1 : 0) | (f.italic ? 2 : 0) | (f.underline ? 4 : 0) |
                                (f.strikeout ? 8 : 0));
    out.Text(f.name);
    out.F64(f.points);
    out.U8(style);
    out.U32(f.rgb);
  }
  out.U32(static_cast<quint32>(page.cells.size()));
  // Cells are written as differences from the cell before: rows of a report
  // share their y and height, tabs follow each other across.
  const PageCell none;
  const PageCell* prev = &none;
  for (const PageCell& c : page.cells) {
    out.U32(static_cast<quint32>(c.x - prev->x));
    out.U32(static_cast<quint32>(c.y - prev->y));
    out.U32(static_cast<quint32>(c.width));
    out.U32(static_cast<quint32>(c.height));
    out.U16(static_cast<quint16>(c.margin));
    out.U16(c.font);
    out.U8(c.justify);
    out.U8(c.box);
    out.U8(c.shade);
    out.Text(c.text);
    prev = &c;
  }
  if (version == kPageWithImagesVersion) {
    out.U32(static_cast<quint32>(page.images.size()));
    for (const PageImage& i : page.images) {
      out.U32(static_cast<quint32>(i.x));
      out.U32(static_cast<quint32>(i.y));
      out.U32(static_cast<quint32>(i.width));
      out.U32(static_cast<quint32>(i.height));
      out.Text(i.path);
    }
  }
  Q_ASSERT(out.at() == raw.data() + raw.size());
  thread_local Compressor compressor(1);
  return compressor.Compress(raw);
}

Page DecodePage(const QByteArray& bytes) {
  const QByteArray raw = qUncompress(bytes);
  if (raw.isEmpty()) Corrupt();
  QDataStream in(raw);
  in.setVersion(QDataStream::Qt_6_0);
  quint32 magic = 0;
  quint16 version = 0;
  qint32 width = 0, height = 0;
  in >> magic >> version >> width >> height;
  if (magic != kPageMagic || (version != kPageVersion && version != kPageWithImagesVersion))
    Corrupt();
  Page page;
  page.width = width;
  page.height = height;
  quint32 font_count = 0;
  in >> font_count;
  if (in.status() != QDataStream::Ok || font_count > 65535) Corrupt();
  for (quint32 i = 0; i < font_count; ++i) {
    PageFont f;
    quint8 style = 0;
    quint32 rgb = 0;
    in >> f.name >> f.points >> style >> rgb;
    f.bold = style & 1;
    f.italic = style & 2;
    f.underline = style & 4;
    f.strikeout = style & 8;
    f.rgb = rgb;
    page.fonts.push_back(f);
  }
  quint32 cell_count = 0;
  in >> cell_count;
  // Each cell takes at least 25 bytes: a count beyond that is damage.
  if (in.status() != QDataStream::Ok || cell_count > static_cast<quint32>(raw.size()) / 25)
    Corrupt();
  page.cells.reserve(cell_count);
  int x = 0, y = 0;
  for (quint32 i = 0; i < cell_count; ++i) {
    qint32 dx, dy, w, h;
    qint16 margin;
    quint16 font;
    quint8 justify, box, shade;
    PageCell c;
    in >> dx >> dy >> w >> h >> margin >> font >> justify >> box >> shade >> c.text;
    if (in.status() != QDataStream::Ok || (font_count > 0 && font >= font_count)) Corrupt();
    x += dx;
    y += dy;
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
    c.margin = margin;
    c.font = font;
    c.justify = justify;
    c.box = box;
    c.shade = shade;
    page.cells.push_back(std::move(c));
  }
  if (version == kPageWithImagesVersion) {
    quint32 image_count = 0;
    in >> image_count;
    // Each picture takes at least 20 bytes.
    if (in.status() != QDataStream::Ok || image_count > static_cast<quint32>(raw.size()) / 20)
      Corrupt();
    page.images.reserve(image_count);
    for (quint32 i = 0; i < image_count; ++i) {
      qint32 x, y, w, h;
      PageImage image;
      in >> x >> y >> w >> h >> image.path;
      if (in.status() != QDataStream::Ok) Corrupt();
      image.x = x;
      image.y = y;
      image.width = w;
      image.height = h;
      page.images.push_back(std::move(image));
    }
  }
  if (in.status() != QDataStream::Ok) Corrupt();
  return page;
}

void PageTransform(QPainter& painter, double scale, double offset_x, double offset_y) {
  QPaintDevice* device = painter.device();
  const double sx = scale * device->logicalDpiX() / kMilsPerInch;
  const double sy = scale * device->logicalDpiY() / kMilsPerInch;
  painter.setWorldTransform(QTransform(sx, 0, 0, sy, offset_x, offset_y));
}

namespace {

void PaintImage(QPainter& painter, const PageImage& image, bool monochrome) {
  if (image.width <= 0 || image.height <= 0 || image.path.isEmpty()) return;
  QImageReader reader(image.path);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);
  const QSize stored = reader.size();
  if (!stored.isValid() || stored.isEmpty()) return;
  // The size as shown: a picture turned by its own orientation tag swaps
  // its sides.
  const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
  const QSize shown = turned ? stored.transposed() : stored;
  const QSizeF fit = QSizeF(shown).scaled(image.width, image.height, Qt::KeepAspectRatio);
  const QRectF target(image.x + (image.width - fit.width()) / 2,
                      image.y + (image.height - fit.height()) / 2, fit.width(), fit.height());
  // Read no more pixels than the device shows, nor more than kImageDpi: a
  // JPEG then decodes at a fraction of its size.
  const QRectF on_device = painter.worldTransform().mapRect(target);
  const double most = static_cast<double>(kImageDpi) / kMilsPerInch;
  const QSize wanted(std::max(1, qRound(std::min(on_device.width(), target.width() * most))),
                     std::max(1, qRound(std::min(on_device.height(), target.height() * most))));
  if (wanted.width() < shown.width() && wanted.height() < shown.height())
    reader.setScaledSize(turned ? wanted.transposed() : wanted);
  QImage picture = reader.read();
  if (picture.isNull()) return;
  if (monochrome) {
    if (picture.hasAlphaChannel()) {
      QImage paper(picture.size(), QImage::Format_RGB32);
      paper.fill(Qt::white);
      QPainter under(&paper);
      under.drawImage(0, 0, picture);
      under.end();
      picture = paper;
    }
    picture = picture.convertToFormat(QImage::Format_Grayscale8);
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, picture);
}

}  // namespace

QFont QtFontOf(const PageFont& page_font, double points) {
  QFont font(page_font.name);
  font.setPointSizeF(points);
  font.setBold(page_font.bold);
  font.setItalic(page_font.italic);
  font.setUnderline(page_font.underline);
  font.setStrikeOut(page_font.strikeout);
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setKerning(false);
  return font;
}

// A page font as PaintPage draws it on one device. Qt sizes a font in
// points by the device's resolution and then applies the transformation;
// the size given here cancels the first so that the text has its real size
// in mils.
struct PaintCache::Font {
  Font(const PageFont& page_font, QPaintDevice* device) : key(page_font) {
    const double per_point = static_cast<double>(kMilsPerInch) / device->logicalDpiY();
    font = QtFontOf(page_font, page_font.points * per_point);
    metrics.emplace(font, device);
  }
  PageFont key;
  QFont font;
  std::optional<QFontMetricsF> metrics;
  QHash<QString, double> widths;
};

PaintCache::PaintCache() = default;
PaintCache::~PaintCache() = default;

PaintCache::Font& PaintCache::FontFor(const PageFont& font, QPaintDevice* device) {
  if (device->logicalDpiX() != dpi_x_ || device->logicalDpiY() != dpi_y_) {
    fonts_.clear();
    widths_ = 0;
    dpi_x_ = device->logicalDpiX();
    dpi_y_ = device->logicalDpiY();
  }
  for (const std::unique_ptr<Font>& f : fonts_) {
    if (f->key == font) return *f;
  }
  fonts_.push_back(std::make_unique<Font>(font, device));
  return *fonts_.back();
}

double PaintCache::Width(Font& font, const QString& text) {
  const auto found = font.widths.constFind(text);
  if (found != font.widths.constEnd()) return *found;
  const double width = font.metrics->horizontalAdvance(text);
  if (widths_ >= kMostWidths) {
    for (const std::unique_ptr<Font>& f : fonts_) f->widths.clear();
    widths_ = 0;
  }
  font.widths.insert(text, width);
  ++widths_;
  return width;
}

void PaintPage(QPainter& painter, const Page& page, bool monochrome, PaintCache* cache) {
  painter.save();
  for (const PageImage& image : page.images) PaintImage(painter, image, monochrome);
  // Without a cache, one for this page alone.
  std::optional<PaintCache> own;
  if (!cache) cache = &own.emplace();
  std::vector<PaintCache::Font*> fonts;
  std::vector<QColor> colors;
  for (const PageFont& f : page.fonts) {
    fonts.push_back(&cache->FontFor(f, painter.device()));
    colors.push_back(monochrome ? QColor(Qt::black) : QColor::fromRgb(f.rgb));
  }
  // Box lines a hundredth of an inch wide.
  QPen line_pen(Qt::black);
  line_pen.setWidthF(10);
  line_pen.setCapStyle(Qt::SquareCap);
  int current_font = -1;
  for (const PageCell& c : page.cells) {
    const QRectF rect(c.x, c.y, c.width, c.height);
    if (c.shade > 0) {
      const int level = 255 - (255 * std::min<int>(c.shade, 100)) / 100;
      painter.fillRect(rect, QColor(level, level, level));
    }
    if (c.box) {
      painter.setPen(line_pen);
      if (c.box & kBoxLeft) painter.drawLine(rect.topLeft(), rect.bottomLeft());
      if (c.box & kBoxRight) painter.drawLine(rect.topRight(), rect.bottomRight());
      if (c.box & kBoxTop) painter.drawLine(rect.topLeft(), rect.topRight());
      if (c.box & kBoxBottom) painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    }
    if (c.text.isEmpty() || c.font >= fonts.size()) continue;
    if (current_font != c.font) {
      current_font = c.font;
      painter.setFont(fonts[c.font]->font);
      painter.setPen(colors[c.font]);
    } else if (c.box) {
      painter.setPen(colors[c.font]);
    }
    const QRectF inner = rect.adjusted(c.margin, 0, -c.margin, 0);
    int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
    flags |= c.justify == kJustifyCenter  ? Qt::AlignHCenter
             : c.justify == kJustifyRight ? Qt::AlignRight
                                          : Qt::AlignLeft;
    // A text wider than its cell is drawn narrowed to the cell's width,
    // never over its neighbours and never cut.
    const double advance = cache->Width(*fonts[c.font], c.text);
    if (inner.width() > 0 && advance > inner.width() * (1 + kNarrowingSlack)) {
      const double scale = inner.width() / advance;
      painter.save();
      painter.translate(inner.left(), 0);
      painter.scale(scale, 1);
      painter.drawText(QRectF(0, inner.top(), advance, inner.height()),
                       (flags & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft, c.text);
      painter.restore();
      continue;
    }
    painter.drawText(inner, flags, c.text);
  }
  painter.restore();
}

}  // namespace klv::report::engine
