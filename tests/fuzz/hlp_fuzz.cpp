// Help files are text anyone may edit, so the reader takes any bytes. Besides
// not failing, what it reads must hold together: every topic is found by its
// keyword in any letter case and spacing, and through the link the pages
// point at; keywords are unique; every page renders, the contents page links
// every topic; and the topics written back in the file format read again as
// the same title, topics, blocks and links.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "FuzzCheck.h"
#include "platform/HelpFile.h"

namespace {

using klv::platform::HelpBlock;
using klv::platform::HelpFile;
using klv::platform::HelpTopic;

// Another spelling of keyword that must find the same topic: ASCII letters in
// the other case, blanks doubled and added at both ends.
QString Respelled(const QString& keyword) {
  QString out = QStringLiteral("  ");
  for (QChar c : keyword) {
    const char16_t u = c.unicode();
    if (u >= u'a' && u <= u'z') {
      out += QChar(u - u'a' + u'A');
    } else if (u >= u'A' && u <= u'Z') {
      out += QChar(u - u'A' + u'a');
    } else if (u == u' ') {
      out += QStringLiteral("  ");
    } else {
      out += c;
    }
  }
  return out + QStringLiteral(" ");
}

// The help file format for what was read: each block on its own line
// between blank lines, paragraphs escaped so that no text reads as markup.
QByteArray Write(const HelpFile& file) {
  QString out;
  if (!file.title().isEmpty()) out += QStringLiteral("@title ") + file.title() + u'\n';
  for (const HelpTopic& topic : file.topics()) {
    out += QStringLiteral("@topic ") + topic.keyword + u'\n';
    out += QStringLiteral("@title ") + topic.title + u'\n';
    if (!topic.see_also.isEmpty())
      out += QStringLiteral("@see ") + topic.see_also.join(u';') + u'\n';
    for (const HelpBlock& block : topic.blocks) {
      switch (block.kind) {
        case HelpBlock::Kind::kParagraph:
          out += u'\\' + block.text;
          break;
        case HelpBlock::Kind::kHeading:
          out += QStringLiteral("== ") + block.text + QStringLiteral(" ==");
          break;
        case HelpBlock::Kind::kBullet:
          out += QStringLiteral("- ") + block.text;
          break;
      }
      out += QStringLiteral("\n\n");
    }
  }
  return out.toUtf8();
}

bool SameBlocks(const std::vector<HelpBlock>& a, const std::vector<HelpBlock>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].text != b[i].text) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const HelpFile file = HelpFile::Parse(input);

  const QString contents = file.ContentsHtml();
  KLV_FUZZ_CHECK(file.PageHtml(u"\u0001 no topic has this keyword") == contents);
  KLV_FUZZ_CHECK(file.PageHtml(u"contents") == contents);
  for (const HelpTopic& topic : file.topics()) {
    KLV_FUZZ_CHECK(!topic.keyword.isEmpty() && topic.keyword == topic.keyword.simplified());
    KLV_FUZZ_CHECK(!topic.title.isEmpty());
    KLV_FUZZ_CHECK(file.Find(topic.keyword) == &topic);
    KLV_FUZZ_CHECK(file.Find(Respelled(topic.keyword)) == &topic);
    for (const HelpBlock& block : topic.blocks) {
      for (QChar c : block.text) KLV_FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    }
    for (const QString& see : topic.see_also) {
      KLV_FUZZ_CHECK(!see.isEmpty() && !see.contains(u';') && see == see.simplified());
    }
    // A page's link goes through its text form and back, as a click does.
    const QString href = HelpFile::LinkUrl(topic.keyword).toString(QUrl::FullyEncoded);
    const std::optional<QString> clicked = HelpFile::KeywordOfLink(QUrl(href));
    KLV_FUZZ_CHECK(clicked.has_value() && file.Find(*clicked) == &topic);
    const QString page = file.PageHtml(topic.keyword);
    if (&topic == file.contents()) {
      KLV_FUZZ_CHECK(page == contents);
    } else {
      KLV_FUZZ_CHECK(page.startsWith(QStringLiteral("<h2>") + topic.title.toHtmlEscaped() +
                                     QStringLiteral("</h2>")));
      KLV_FUZZ_CHECK(contents.contains(QStringLiteral("<a href=\"") + href.toHtmlEscaped() +
                                       QStringLiteral("\">")));
    }
  }

  const HelpFile again = HelpFile::Parse(Write(file));
  KLV_FUZZ_CHECK(again.title() == file.title());
  KLV_FUZZ_CHECK(again.topics().size() == file.topics().size());
  for (size_t i = 0; i < file.topics().size(); ++i) {
    const HelpTopic& a = file.topics()[i];
    const HelpTopic& b = again.topics()[i];
    KLV_FUZZ_CHECK(a.keyword == b.keyword);
    KLV_FUZZ_CHECK(a.title == b.title);
    KLV_FUZZ_CHECK(a.see_also == b.see_also);
    KLV_FUZZ_CHECK(SameBlocks(a.blocks, b.blocks));
  }
  return 0;
}
