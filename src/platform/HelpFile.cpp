#include "platform/HelpFile.h"

#include <algorithm>
#include <functional>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace klv::platform {

namespace {

QString Latin1(const char* text) {
  return QString::fromLatin1(text);
}

// Control characters (tabs included) would reach the page as they are; in a
// text made for reading they can only be mistakes, so they read as blanks.
QString WithoutControls(QStringView line) {
  QString out = line.toString();
  for (QChar& c : out) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char(' ');
  }
  return out;
}

bool IsBulletStart(QStringView line) {
  if (line.isEmpty() || (line[0] != QLatin1Char('-') && line[0] != QLatin1Char('*'))) return false;
  // "**bold** at the start" is a paragraph, not a bullet.
  if (line.startsWith(QLatin1String("**"))) return false;
  return line.size() == 1 || line[1] == QLatin1Char(' ');
}

// The end ("]]") of the link that opens with the "[[" at open, or -1 when
// that "[[" is not a link: unclosed, or another "[[" comes first (then the
// later one is the link).
qsizetype LinkEnd(const QString& text, qsizetype open) {
  const qsizetype close = text.indexOf(QLatin1String("]]"), open + 2);
  if (close < 0) return -1;
  const qsizetype next = text.indexOf(QLatin1String("[["), open + 2);
  return next >= 0 && next < close ? -1 : close;
}

}  // namespace

// Builds a HelpFile line by line; see the header for the rules it follows.
class HelpFile::Parser {
 public:
  explicit Parser(HelpFile& file) : file_(file) {}

  void Run(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
      Warn(0, Latin1("The file is not valid UTF-8 text; bytes that cannot be read are shown as "
                     "replacement characters."));
    }
    const QList<QStringView> lines = QStringView(text).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
      QStringView line = lines[i];
      if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
      ReadLine(static_cast<int>(i + 1), WithoutControls(line));
    }
    FinishTopic();
    CheckLinks();
  }

 private:
  enum class State { kBeforeTopics, kInTopic, kSkippingTopic };

  void ReadLine(int number, const QString& line) {
    if (line.startsWith(QLatin1Char('#'))) return;
    if (line.startsWith(QLatin1Char('@'))) {
      ReadDirective(number, line);
      return;
    }
    if (state_ != State::kInTopic) {
      if (state_ == State::kBeforeTopics && !line.trimmed().isEmpty() && !warned_preamble_) {
        Warn(number, Latin1("Text before the first \"@topic\" line is ignored."));
        warned_preamble_ = true;
      }
      return;
    }
    ReadText(line);
  }

  void ReadDirective(int number, const QString& line) {
    const qsizetype space = line.indexOf(QLatin1Char(' '));
    const QString name = (space < 0 ? line : line.left(space)).toLower();
    const QString argument = space < 0 ? QString() : line.mid(space + 1).simplified();
    if (name == QLatin1String("@topic")) {
      StartTopic(number, argument);
    } else if (name == QLatin1String("@title")) {
      if (state_ == State::kBeforeTopics) {
        file_.title_ = argument;
      } else if (state_ == State::kInTopic) {
        topic_.title = argument;
      }
    } else if (name == QLatin1String("@see")) {
      if (state_ == State::kInTopic) {
        for (const QString& part : argument.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
          const QString keyword = part.simplified();
          if (!keyword.isEmpty()) topic_.see_also.append(keyword);
        }
      } else if (state_ == State::kBeforeTopics) {
        Warn(number, Latin1("\"@see\" outside a topic is ignored."));
      }
    } else {
      Warn(number, QStringLiteral("Unknown line \"%1\" is ignored.").arg(name));
    }
  }

  void StartTopic(int number, const QString& keyword) {
    FinishTopic();
    if (keyword.isEmpty()) {
      Warn(number, Latin1("A \"@topic\" line without a keyword: the topic is skipped."));
      state_ = State::kSkippingTopic;
      return;
    }
    const QString key = LookupKey(keyword);
    if (file_.index_.contains(key)) {
      const HelpTopic& first = file_.topics_[static_cast<size_t>(file_.index_.value(key))];
      Warn(number, QStringLiteral("The keyword \"%1\" was already used on line %2: this topic is "
                                  "skipped.")
                       .arg(keyword)
                       .arg(first.line));
      state_ = State::kSkippingTopic;
      return;
    }
    topic_ = HelpTopic{};
    topic_.keyword = keyword;
    topic_.line = number;
    // Reserve the keyword now, so a duplicate later in the file is caught
    // even before this topic is finished.
    file_.index_.insert(key, static_cast<int>(file_.topics_.size()));
    state_ = State::kInTopic;
  }

  void FinishTopic() {
    if (state_ != State::kInTopic) return;
    FlushBlock();
    if (topic_.title.isEmpty()) topic_.title = topic_.keyword;
    file_.topics_.push_back(std::move(topic_));
    topic_ = HelpTopic{};
    state_ = State::kSkippingTopic;  // until the next "@topic"
  }

  void ReadText(const QString& raw) {
    const bool escaped = raw.startsWith(QLatin1Char('\\'));
    const QString line = escaped ? raw.mid(1) : raw;
    if (line.trimmed().isEmpty()) {
      FlushBlock();
      return;
    }
    if (!escaped && line.startsWith(QLatin1String("=="))) {
      FlushBlock();
      QString heading = line;
      while (heading.startsWith(QLatin1Char('='))) heading.remove(0, 1);
      while (heading.endsWith(QLatin1Char('='))) heading.chop(1);
      topic_.blocks.push_back({HelpBlock::Kind::kHeading, heading.simplified()});
      return;
    }
    if (!escaped && IsBulletStart(line)) {
      FlushBlock();
      block_kind_ = HelpBlock::Kind::kBullet;
      block_lines_.append(line.mid(1).trimmed());
      return;
    }
    const bool indented = line.front().isSpace();
    if (!block_lines_.isEmpty() && block_kind_ == HelpBlock::Kind::kBullet && !indented) {
      FlushBlock();
    }
    if (block_lines_.isEmpty()) block_kind_ = HelpBlock::Kind::kParagraph;
    block_lines_.append(line.trimmed());
  }

  void FlushBlock() {
    if (block_lines_.isEmpty()) return;
    const QString text = block_lines_.join(QLatin1Char(' ')).simplified();
    if (!text.isEmpty() || block_kind_ == HelpBlock::Kind::kBullet) {
      topic_.blocks.push_back({block_kind_, text});
    }
    block_lines_.clear();
  }

  // Broken links are shown as plain text; saying where they are lets the
  // author of the file find them before a reader does.
  void CheckLinks() {
    for (const HelpTopic& topic : file_.topics_) {
      auto check = [&](const QString& target) {
        if (file_.Find(target) == nullptr && !IsContentsKeyword(target)) {
          Warn(topic.line, QStringLiteral("The topic \"%1\" links to \"%2\", which the file does "
                                          "not have.")
                               .arg(topic.keyword, target));
        }
      };
      for (const HelpBlock& block : topic.blocks) {
        qsizetype from = 0;
        for (;;) {
          const qsizetype open = block.text.indexOf(QLatin1String("[["), from);
          if (open < 0) break;
          const qsizetype close = LinkEnd(block.text, open);
          if (close < 0) {
            from = open + 2;
            continue;
          }
          const QString inner = block.text.mid(open + 2, close - open - 2);
          check(inner.section(QLatin1Char('|'), 0, 0).simplified());
          from = close + 2;
        }
      }
      for (const QString& target : topic.see_also) check(target);
    }
  }

  void Warn(int line, const QString& text) {
    file_.warnings_.append(line > 0 ? QStringLiteral("Line %1: %2").arg(line).arg(text) : text);
  }

  HelpFile& file_;
  State state_ = State::kBeforeTopics;
  bool warned_preamble_ = false;
  HelpTopic topic_;
  HelpBlock::Kind block_kind_ = HelpBlock::Kind::kParagraph;
  QStringList block_lines_;
};

HelpFile HelpFile::Parse(const QByteArray& bytes) {
  HelpFile file;
  Parser(file).Run(bytes);
  return file;
}

std::optional<HelpFile> HelpFile::Load(const QString& path, QString* error) {
  auto fail = [&](const QString& reason) -> std::optional<HelpFile> {
    if (error != nullptr) *error = QStringLiteral("The help file \"%1\" %2").arg(path, reason);
    return std::nullopt;
  };
  const QFileInfo info(path);
  if (!info.exists()) return fail(Latin1("does not exist."));
  if (!info.isFile()) return fail(Latin1("is not a file."));
  if (info.size() > kMaxFileBytes) return fail(Latin1("is too large to be a help file."));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return fail(QStringLiteral("could not be opened: %1.").arg(file.errorString()));
  }
  // Read one byte past the limit: the file may have grown since the check.
  const QByteArray bytes = file.read(kMaxFileBytes + 1);
  if (file.error() != QFileDevice::NoError) {
    return fail(QStringLiteral("could not be read: %1.").arg(file.errorString()));
  }
  if (bytes.size() > kMaxFileBytes) return fail(Latin1("is too large to be a help file."));
  return Parse(bytes);
}

QString HelpFile::LookupKey(QStringView keyword) {
  return keyword.toString().simplified().toCaseFolded();
}

bool HelpFile::IsContentsKeyword(QStringView keyword) {
  return LookupKey(keyword) == LookupKey(Latin1(kContentsKeyword));
}

const HelpTopic* HelpFile::Find(QStringView keyword) const {
  const auto it = index_.constFind(LookupKey(keyword));
  if (it == index_.constEnd()) return nullptr;
  const auto position = static_cast<size_t>(it.value());
  // A keyword is reserved when its topic starts; a file still being parsed
  // may not hold the topic yet.
  return position < topics_.size() ? &topics_[position] : nullptr;
}

const HelpTopic* HelpFile::contents() const {
  return Find(Latin1(kContentsKeyword));
}

QUrl HelpFile::LinkUrl(const QString& keyword) {
  QUrl url;
  url.setScheme(QStringLiteral("topic"));
  // Encoded in full, so that the link read back from a page's text is the
  // keyword again: a keyword "//x" set as it is would read as a host.
  url.setPath(QString::fromLatin1(QUrl::toPercentEncoding(keyword)), QUrl::TolerantMode);
  return url;
}

std::optional<QString> HelpFile::KeywordOfLink(const QUrl& url) {
  if (url.scheme() != QLatin1String("topic")) return std::nullopt;
  return url.path();
}

QString HelpFile::LinkHtml(const QString& keyword, const QString& shown) const {
  const HelpTopic* target = Find(keyword);
  const bool contents_page = IsContentsKeyword(keyword);
  QString words = shown;
  if (words.isEmpty()) {
    words = target != nullptr ? target->title : contents_page ? Latin1(kContentsKeyword) : keyword;
  }
  if (target == nullptr && !contents_page) return words.toHtmlEscaped();
  return QStringLiteral("<a href=\"%1\">%2</a>")
      .arg(LinkUrl(target != nullptr ? target->keyword : Latin1(kContentsKeyword))
               .toString(QUrl::FullyEncoded)
               .toHtmlEscaped(),
           words.toHtmlEscaped());
}

QString HelpFile::InlineHtml(const QString& text) const {
  QString html;
  qsizetype i = 0;
  bool bold = false;
  while (i < text.size()) {
    if (text.mid(i, 2) == QLatin1String("[[")) {
      const qsizetype close = LinkEnd(text, i);
      if (close >= 0) {
        const QString inner = text.mid(i + 2, close - i - 2);
        const qsizetype bar = inner.indexOf(QLatin1Char('|'));
        const QString keyword = (bar < 0 ? inner : inner.left(bar)).simplified();
        const QString shown = bar < 0 ? QString() : inner.mid(bar + 1).simplified();
        html += LinkHtml(keyword, shown);
        i = close + 2;
        continue;
      }
    }
    if (text.mid(i, 2) == QLatin1String("**")) {
      // Bold only when it is closed again; a lone "**" is shown as written.
      if (bold || text.indexOf(QLatin1String("**"), i + 2) >= 0) {
        html += bold ? QLatin1String("</b>") : QLatin1String("<b>");
        bold = !bold;
        i += 2;
        continue;
      }
    }
    html += QString(text[i]).toHtmlEscaped();
    ++i;
  }
  if (bold) html += QLatin1String("</b>");
  return html;
}

namespace {

void AppendBlocks(QString& html, const std::vector<HelpBlock>& blocks,
                  const std::function<QString(const QString&)>& inline_html) {
  bool in_list = false;
  for (const HelpBlock& block : blocks) {
    const bool bullet = block.kind == HelpBlock::Kind::kBullet;
    if (bullet && !in_list) html += QLatin1String("<ul>");
    if (!bullet && in_list) html += QLatin1String("</ul>");
    in_list = bullet;
    switch (block.kind) {
      case HelpBlock::Kind::kParagraph:
        html += QLatin1String("<p>") + inline_html(block.text) + QLatin1String("</p>");
        break;
      case HelpBlock::Kind::kHeading:
        html += QLatin1String("<h3>") + inline_html(block.text) + QLatin1String("</h3>");
        break;
      case HelpBlock::Kind::kBullet:
        html += QLatin1String("<li>") + inline_html(block.text) + QLatin1String("</li>");
        break;
    }
  }
  if (in_list) html += QLatin1String("</ul>");
}

}  // namespace

QString HelpFile::TopicHtml(const HelpTopic& topic) const {
  QString html = QLatin1String("<h2>") + topic.title.toHtmlEscaped() + QLatin1String("</h2>");
  AppendBlocks(html, topic.blocks, [this](const QString& text) { return InlineHtml(text); });
  if (!topic.see_also.isEmpty()) {
    QStringList links;
    for (const QString& keyword : topic.see_also) links.append(LinkHtml(keyword, QString()));
    html += QLatin1String("<p><b>See also:</b> ") + links.join(QLatin1String(", ")) +
            QLatin1String("</p>");
  }
  return html;
}

QString HelpFile::ContentsHtml() const {
  const HelpTopic* intro = contents();
  QString heading = intro != nullptr ? intro->title : title_;
  if (heading.isEmpty()) heading = Latin1(kContentsKeyword);
  QString html = QLatin1String("<h2>") + heading.toHtmlEscaped() + QLatin1String("</h2>");
  if (intro != nullptr) {
    AppendBlocks(html, intro->blocks, [this](const QString& text) { return InlineHtml(text); });
  }
  std::vector<const HelpTopic*> listed;
  for (const HelpTopic& topic : topics_) {
    if (&topic != intro) listed.push_back(&topic);
  }
  std::stable_sort(listed.begin(), listed.end(), [](const HelpTopic* a, const HelpTopic* b) {
    return QString::compare(a->title, b->title, Qt::CaseInsensitive) < 0;
  });
  if (!listed.empty()) {
    html += QLatin1String("<h3>All topics</h3><ul>");
    for (const HelpTopic* topic : listed) {
      html += QLatin1String("<li>") + LinkHtml(topic->keyword, QString()) + QLatin1String("</li>");
    }
    html += QLatin1String("</ul>");
  }
  return html;
}

QString HelpFile::PageHtml(QStringView keyword) const {
  const HelpTopic* topic = IsContentsKeyword(keyword) ? nullptr : Find(keyword);
  return topic != nullptr ? TopicHtml(*topic) : ContentsHtml();
}

}  // namespace klv::platform
