// The byte format of the pick list files, apart from the list models and the
// user prompts, so that it needs QtCore only.
#include <QStringDecoder>

#include "base/Codepage.h"
#include "edit/PickLists.h"

namespace klv {

QString TrimBlanks(const QString& text) {
  qsizetype first = 0, last = text.size();
  while (first < last && text[first].unicode() <= u' ') ++first;
  while (last > first && text[last - 1].unicode() <= u' ') --last;
  return text.mid(first, last - first);
}

namespace {

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
  if (auto cp = base::CodePage::Cp1252().Encode(utf8)) return QByteArray::fromStdString(*cp);
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

}  // namespace klv
