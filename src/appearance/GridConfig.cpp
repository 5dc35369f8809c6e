#include "appearance/GridConfig.h"

#include "appearance/AppearanceTexts.h"
#include "platform/Prompts.h"

namespace klv::appearance {
namespace {

using db::kFieldCount;

constexpr int kCaptionLength = 20;
constexpr int kInvalidWidth = 10;

using platform::L;

size_t F(int field) {
  return static_cast<size_t>(field);
}

}  // namespace

QString FontText(const QFont& font) {
  const int size = font.pointSize() > 0 ? font.pointSize() : font.pixelSize();
  return QString::number(size) + L(texts::kPointsBetween) + font.family();
}

GridPages FillGridPages(const app::Settings& s) {
  GridPages pages;
  for (int f = 1; f <= kFieldCount; ++f) {
    pages.display[F(f)] = L(s.display_fields[F(f)] ? texts::kYes : texts::kNo);
    pages.widths[F(f)] = QString::number(s.field_width[F(f)]);
    pages.names[F(f)] = s.field_names[F(f)];
    const int position = s.field_order[F(f)];
    if (position >= 1 && position <= kFieldCount)
      pages.order[static_cast<size_t>(position - 1)] = s.field_names[F(f)];
  }
  return pages;
}

QString ToggledDisplay(const QString& cell) {
  return L(cell == L(texts::kYes) ? texts::kNo : texts::kYes);
}

bool MoveOrderRow(std::array<QString, kFieldCount>& order, int row, int delta) {
  const int other = row + delta;
  if (row < 0 || row >= kFieldCount || other < 0 || other >= kFieldCount) return false;
  std::swap(order[static_cast<size_t>(row)], order[static_cast<size_t>(other)]);
  return true;
}

std::array<QString, kFieldCount> DefaultOrder(const PerField<QString>& names) {
  std::array<QString, kFieldCount> order;
  for (int f = 1; f <= kFieldCount; ++f) order[F(f - 1)] = names[F(f)];
  return order;
}

std::optional<QString> FirstDuplicateCaption(const PerField<QString>& names) {
  for (int a = 1; a <= kFieldCount; ++a) {
    for (int b = a + 1; b <= kFieldCount; ++b) {
      if (names[F(a)] == names[F(b)]) return names[F(a)];
    }
  }
  return std::nullopt;
}

QString DuplicateCaptionMessage(const QString& caption) {
  return L(texts::kDuplicateStart) + caption + L(texts::kDuplicateEnd);
}

int ReadWidth(const QString& cell) {
  bool ok = false;
  const int width = cell.trimmed().toInt(&ok, 10);
  return ok && width >= 1 && width <= 255 ? width : kInvalidWidth;
}

void ApplyGridPages(GridPages& pages, app::Settings& s) {
  for (int f = 1; f <= kFieldCount; ++f) {
    const int width = ReadWidth(pages.widths[F(f)]);
    if (width == kInvalidWidth) pages.widths[F(f)] = QString::number(kInvalidWidth);
    s.field_width[F(f)] = width;
    s.display_fields[F(f)] = pages.display[F(f)] == L(texts::kYes);
    for (int row = 0; row < kFieldCount; ++row) {
      if (pages.order[static_cast<size_t>(row)] == s.field_names[F(f)]) {
        s.field_order[F(f)] = row + 1;
        break;
      }
    }
  }
  for (int f = 1; f <= kFieldCount; ++f) {
    QString caption = pages.names[F(f)];
    if (caption.size() > kCaptionLength) {
      qsizetype end = kCaptionLength;
      if (caption[end - 1].isHighSurrogate()) --end;
      caption.truncate(end);
    }
    s.field_names[F(f)] = caption;
  }
}

}  // namespace klv::appearance
