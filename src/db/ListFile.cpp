// The byte format of the pick list files, apart from the list models and the
// user prompts, so that it needs QtCore only.
#include <string_view>

#include <QStringDecoder>

#include "base/Codepage.h"
#include "db/PickLists.h"

namespace klv::db {

QString TrimBlanks(const QString& text) {
  qsizetype first = 0, last = text.size();
  while (first < last && text[first].unicode() <= u' ') ++first;
  while (last > first && text[last - 1].unicode() <= u' ') --last;
  return text.mid(first, last - first);
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsUtf8(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !utf8.hasError();
}

QString DecodeListBytes(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  std::string decoded =
      base::CodePage::Cp1252().Decode(std::string_view(bytes.constData(), bytes.size()));
  return QString::fromStdString(decoded);
}

QByteArray EncodeListText(const QString& text) {
  std::string utf8 = text.toStdString();
  // Windows-1252 bytes that happen to be valid UTF-8 ("Ã©") would read back
  // as other text; such a list is written in UTF-8.
  if (auto cp = base::CodePage::Cp1252().Encode(utf8); cp && (*cp == utf8 || !IsUtf8(*cp)))
    return QByteArray::fromStdString(*cp);
  // Reading skips a leading byte-order mark, so a first entry that starts
  // with U+FEFF needs one in front of it.
  if (utf8.starts_with(kByteOrderMark)) utf8.insert(0, kByteOrderMark);
  return QByteArray::fromStdString(utf8);
}

}  // namespace

QStringList ParseListBytes(const QByteArray& bytes) {
  QStringList out;
  for (const QString& line : DecodeListBytes(bytes).split(u'\n')) {
    QString entry = TrimBlanks(line);
    if (!entry.isEmpty()) out.append(entry);
  }
  return out;
}

QByteArray ListFileBytes(const QStringList& entries) {
  QString text;
  for (const QString& entry : entries) text += entry + QStringLiteral("\r\n");
  return EncodeListText(text);
}

}  // namespace klv::db
