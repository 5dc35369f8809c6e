// One printed page as the report engine describes it: the paper size and a
// list of drawing operations (text cells with their font and justification,
// box lines, shading, pictures), all in thousandths of an inch from the paper's
// top-left corner. The printer, the PDF writer, the stored pages and the
// preview all take their pages in this form and draw them through the one
// routine PaintPage, so what the preview shows is what prints.
//
// Stored pages are this description, serialised: only the engine writes and
// reads them (EncodePage / DecodePage). A picture is kept as the path of its
// file and read when the page is drawn, so stored pages stay small however
// many pictures a report prints.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

class QFont;
class QPainter;
class QPaintDevice;

namespace klv::report::engine {

// Positions and sizes are integers in these units.
inline constexpr int kMilsPerInch = 1000;
inline int ToMils(double inches) {
  return static_cast<int>(inches * kMilsPerInch + (inches < 0 ? -0.5 : 0.5));
}
inline double ToInches(int mils) {
  return static_cast<double>(mils) / kMilsPerInch;
}

struct PageFont {
  QString name;
  double points = 10;
  bool bold = false, italic = false, underline = false, strikeout = false;
  uint32_t rgb = 0;  // 0xRRGGBB
  bool operator==(const PageFont&) const = default;
};

// The Qt font a page font is measured and drawn in, sized points (the
// engine measures at the page font's own size; the painter sizes it for
// its device): no hinting and no kerning, so that a text's width is the
// same on every device.
QFont QtFontOf(const PageFont& font, double points);

// Justification of a text in its cell.
enum Justify : uint8_t { kJustifyCenter = 0, kJustifyLeft = 1, kJustifyRight = 2 };
// Box-line bits of a cell.
enum BoxLine : uint8_t { kBoxLeft = 1, kBoxRight = 2, kBoxTop = 4, kBoxBottom = 8 };

// A rectangle of the page with what goes into it: a shade (percent of black,
// 0 for none), box lines on some of its sides, and a text drawn in one font
// inside its inner margins, justified and vertically centred (narrowed to
// the inner width when it is wider).
struct PageCell {
  int x = 0, y = 0, width = 0, height = 0;  // mils
  int margin = 0;                           // mils, on the left and the right
  uint16_t font = 0;                        // index into Page::fonts
  uint8_t justify = kJustifyLeft;
  uint8_t box = 0;
  uint8_t shade = 0;
  QString text;
  bool operator==(const PageCell&) const = default;
};

// A picture drawn as large as fits into a rectangle, keeping its
// proportions, centred there. path names the picture's file; a file that is
// gone or no picture by the time the page is drawn leaves the rectangle
// empty.
struct PageImage {
  int x = 0, y = 0, width = 0, height = 0;  // mils
  QString path;
  bool operator==(const PageImage&) const = default;
};

struct Page {
  int width = 8500, height = 11000;  // mils: the paper as printed (orientation applied)
  std::vector<PageFont> fonts;
  std::vector<PageCell> cells;
  std::vector<PageImage> images;
  bool operator==(const Page&) const = default;

  // The index of font in fonts, adding it when new.
  uint16_t FontIndex(const PageFont& font);
};

// A page's bytes as the stored pages hold them (compressed), and back.
// DecodePage throws base::Error on bytes that are not a page.
QByteArray EncodePage(const Page& page);
Page DecodePage(const QByteArray& bytes);

// Draws page on painter, whose device may be a printer, a PDF writer, an
// image or a widget: the painter's current transformation must map one unit
// to one mil (see PageTransform). monochrome draws every colour black and
// pictures in greys. A text wider than its cell is drawn narrowed to the
// cell's inner width. Pictures are read at the size they take on the device,
// at most kImageDpi, so a printer or PDF file gets no full-size photographs.
inline constexpr int kImageDpi = 300;
class PaintCache;
void PaintPage(QPainter& painter, const Page& page, bool monochrome = false,
               PaintCache* cache = nullptr);

// What PaintPage keeps from one page to the next when given one: the fonts
// made for the pages' fonts and the widths of the texts measured in them,
// so that the labels a report repeats on every record are measured once.
// It holds for one resolution of the device: painting on a device of
// another starts it afresh.
class PaintCache {
 public:
  PaintCache();
  ~PaintCache();
  PaintCache(const PaintCache&) = delete;
  PaintCache& operator=(const PaintCache&) = delete;

  // Widths kept at most, over all fonts; beyond, all are forgotten and
  // measured afresh.
  static constexpr int kMostWidths = 20000;

 private:
  friend void PaintPage(QPainter&, const Page&, bool, PaintCache*);
  struct Font;
  Font& FontFor(const PageFont& font, QPaintDevice* device);
  double Width(Font& font, const QString& text);

  int dpi_x_ = 0, dpi_y_ = 0;
  std::vector<std::unique_ptr<Font>> fonts_;
  int widths_ = 0;
};

// Sets painter's transformation so that one unit is one mil at scale (1.0:
// the page at its real size on the device) with the page's top-left corner
// at the device position offset_x, offset_y (device pixels).
void PageTransform(QPainter& painter, double scale, double offset_x = 0, double offset_y = 0);

}  // namespace klv::report::engine
