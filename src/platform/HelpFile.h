// The program's help file, KLVCOIN.HLP: a plain text format of our own that
// anyone can edit with a text editor, read into topics that the help window
// shows by keyword. QtCore only.
//
// The format
// ----------
// The file is UTF-8 text (a leading byte-order mark is skipped; lines end in
// LF or CR LF). Lines are read one by one:
//
//   # comment                  '#' as the first character: ignored anywhere
//   @title Coin Program Help   before the first topic: the file's own title
//   @topic Input Window        starts a topic; the rest of the line is its
//                              keyword, the name forms ask for
//   @title The Edit Window     inside a topic: the title shown (optional; the
//                              keyword is the title when there is none)
//   @see Pick Lists; Defaults  inside a topic: "See also" links, keywords
//                              separated by ';' (may be repeated)
//   any other line             the topic's text
//
// A topic's text is made of blocks, separated by blank lines:
//   - a paragraph: consecutive lines, joined with a blank;
//   - "== Heading": a subheading (one line);
//   - "- item" or "* item": a bullet; indented lines that follow continue it.
// Inside text, "**words**" is shown bold, "[[Keyword]]" is a link to the
// topic of that keyword showing its title, and "[[Keyword|words]]" a link
// showing the words. A '\' as a line's first character is dropped and makes
// the rest of the line plain text, for text that would otherwise begin with
// '@', '#', '-', '*' or "==".
//
// Keywords are looked up without regard to letter case, and runs of blanks
// count as one blank ("input  WINDOW" finds "Input Window"). The topic with
// the keyword "Contents" is the contents page: its text, followed by a list
// of every topic of the file, so a topic can never be out of reach.
//
// Reading is tolerant: no input makes the parser fail or crash. Problems are
// collected as warnings (with line numbers) and the rest of the file is used:
// text before the first topic is ignored, a topic without keyword or with the
// keyword of an earlier topic is skipped (the first one wins), unknown
// directives are ignored, bytes that are not UTF-8 become U+FFFD, control
// characters become blanks, and links to keywords the file lacks are shown
// as plain text.
#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

namespace klv::platform {

struct HelpBlock {
  enum class Kind { kParagraph, kHeading, kBullet };
  Kind kind = Kind::kParagraph;
  QString text{};  // inline markup ("**", "[[...]]") still in it
};

struct HelpTopic {
  QString keyword{};  // as written in the file, blanks simplified
  QString title{};
  std::vector<HelpBlock> blocks{};
  QStringList see_also{};  // keywords
  int line = 0;            // line of its "@topic", for messages
};

class HelpFile {
 public:
  // The keyword of the contents page.
  static constexpr char kContentsKeyword[] = "Contents";
  // Files larger than this are refused rather than read into memory: no real
  // help file comes near it.
  static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

  // An empty help file: no topics; its contents page lists nothing.
  HelpFile() = default;

  // Reads the help file format from bytes. Never fails; see warnings().
  static HelpFile Parse(const QByteArray& bytes);
  // Reads the file at path. A file that is missing, not a regular file,
  // unreadable or too large gives nothing, with a sentence for the user
  // naming the file and the reason in *error (when error is not null).
  static std::optional<HelpFile> Load(const QString& path, QString* error);

  // The file's own title ("@title" before the first topic); may be empty.
  const QString& title() const { return title_; }
  // Every topic, in file order, the contents topic included.
  const std::vector<HelpTopic>& topics() const { return topics_; }
  // The topic of keyword (compared as described above), or null.
  const HelpTopic* Find(QStringView keyword) const;
  // The contents topic, or null when the file has none.
  const HelpTopic* contents() const;
  // True when keyword names the contents page, whether or not the file holds
  // a contents topic.
  static bool IsContentsKeyword(QStringView keyword);

  // The topic as a rich-text page (the subset of HTML QTextBrowser shows).
  // Links point to LinkUrl(keyword).
  QString TopicHtml(const HelpTopic& topic) const;
  // The contents page: the contents topic's text (when there is one) and an
  // alphabetical list of links to every other topic.
  QString ContentsHtml() const;
  // The page for keyword: its topic, or the contents page when keyword names
  // the contents or no topic of the file.
  QString PageHtml(QStringView keyword) const;

  // What the parser passed over, one sentence each, with line numbers.
  const QStringList& warnings() const { return warnings_; }

  // The link target of a topic inside pages, and back. KeywordOfLink gives
  // nothing for URLs that are not topic links.
  static QUrl LinkUrl(const QString& keyword);
  static std::optional<QString> KeywordOfLink(const QUrl& url);
  // The form keywords are compared in: blanks simplified, case folded.
  static QString LookupKey(QStringView keyword);

 private:
  class Parser;

  QString InlineHtml(const QString& text) const;
  QString LinkHtml(const QString& keyword, const QString& shown) const;

  QString title_;
  std::vector<HelpTopic> topics_;
  QHash<QString, int> index_;  // LookupKey -> position in topics_
  QStringList warnings_;
};

}  // namespace klv::platform
