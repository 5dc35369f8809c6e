// The help file format, the help window, and the help file the program ships.
#include <cstdlib>
#include <random>

#include <QDateTime>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QWidget>

#include <gtest/gtest.h>

#include "platform/HelpFile.h"
#include "platform/HelpViewer.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::platform {
namespace {

using Kind = HelpBlock::Kind;

HelpFile ParseText(const char* text) {
  return HelpFile::Parse(QByteArray(text));
}

const char kSample[] =
    "# a comment before everything\n"
    "@title Coin Help\n"
    "\n"
    "@topic Contents\n"
    "@title Help Contents\n"
    "Start with [[Input Window]].\n"
    "\n"
    "@topic Input Window\n"
    "@title The Edit Window\n"
    "@see Pick Lists; Contents\n"
    "First line of a paragraph\n"
    "  joined with the second.\n"
    "# comments vanish even inside a topic\n"
    "\n"
    "== Buttons ==\n"
    "- **Update** writes the record\n"
    "  and stays.\n"
    "* Exit closes.\n"
    "Back to a paragraph with [[pick lists|the lists]] and [[Nowhere]].\n"
    "\\- not a bullet, \\@ not a directive\n"
    "\n"
    "@topic Pick Lists\n"
    "Lists of <values> & more.\n";

TEST(HelpFileParseTest, ReadsTopicsTitlesAndBlocks) {
  const HelpFile file = ParseText(kSample);
  EXPECT_EQ(file.title(), "Coin Help");
  ASSERT_EQ(file.topics().size(), 3u);

  const HelpTopic& input = file.topics()[1];
  EXPECT_EQ(input.keyword, "Input Window");
  EXPECT_EQ(input.title, "The Edit Window");
  EXPECT_EQ(input.line, 8);
  EXPECT_EQ(input.see_also, QStringList({"Pick Lists", "Contents"}));
  ASSERT_EQ(input.blocks.size(), 5u);
  EXPECT_EQ(input.blocks[0].kind, Kind::kParagraph);
  EXPECT_EQ(input.blocks[0].text, "First line of a paragraph joined with the second.");
  EXPECT_EQ(input.blocks[1].kind, Kind::kHeading);
  EXPECT_EQ(input.blocks[1].text, "Buttons");
  EXPECT_EQ(input.blocks[2].kind, Kind::kBullet);
  EXPECT_EQ(input.blocks[2].text, "**Update** writes the record and stays.");
  EXPECT_EQ(input.blocks[3].kind, Kind::kBullet);
  EXPECT_EQ(input.blocks[3].text, "Exit closes.");
  // A line that is not indented ends a bullet, and the escaped line continues
  // the paragraph as plain text.
  EXPECT_EQ(input.blocks[4].kind, Kind::kParagraph);
  EXPECT_EQ(input.blocks[4].text,
            "Back to a paragraph with [[pick lists|the lists]] and [[Nowhere]]. - not a bullet, "
            "\\@ not a directive");

  // Without "@title" the keyword is the title.
  EXPECT_EQ(file.topics()[2].title, "Pick Lists");
}

TEST(HelpFileParseTest, KeywordsAreFoundWithoutRegardToCaseOrBlanks) {
  const HelpFile file = ParseText(kSample);
  ASSERT_NE(file.Find(u"input  WINDOW "), nullptr);
  EXPECT_EQ(file.Find(u"input  WINDOW ")->keyword, "Input Window");
  EXPECT_EQ(file.Find(u"Input Windows"), nullptr);
  EXPECT_EQ(file.Find(u""), nullptr);
  ASSERT_NE(file.contents(), nullptr);
  EXPECT_EQ(file.contents()->title, "Help Contents");
  EXPECT_TRUE(HelpFile::IsContentsKeyword(u"CONTENTS"));
  EXPECT_EQ(ParseText("@topic A\nx\n").contents(), nullptr);
}

TEST(HelpFileParseTest, BadInputIsPassedOverWithWarnings) {
  const QByteArray text =
      "\xEF\xBB\xBF"  // byte-order mark
      "stray text before any topic\r\n"
      "@topic First\r\n"
      "Good \xFF text\twith\x01 controls.\r\n"
      "@topic\r\n"
      "Text of a topic without keyword.\r\n"
      "@topic FIRST\r\n"
      "Text of a duplicate.\r\n"
      "@bogus directive\r\n"
      "@topic Second\r\n"
      "Unclosed [[link and lone ** star.\r\n"
      "[[Missing|Broken link]]\r\n";
  const HelpFile file = HelpFile::Parse(text);

  ASSERT_EQ(file.topics().size(), 2u);
  const HelpTopic& first = file.topics()[0];
  EXPECT_EQ(first.keyword, "First");
  // Neither the keyword-less topic nor the duplicate adds to the topic before.
  ASSERT_EQ(first.blocks.size(), 1u);
  EXPECT_EQ(first.blocks[0].text, QString::fromUtf8("Good \uFFFD text with controls."));

  const QString html = file.TopicHtml(file.topics()[1]);
  EXPECT_TRUE(html.contains("Unclosed [[link and lone ** star."));
  EXPECT_TRUE(html.contains("Broken link"));
  EXPECT_FALSE(html.contains("href"));

  const QString warnings = file.warnings().join('\n');
  EXPECT_EQ(file.warnings().size(), 6) << warnings.toStdString();
  EXPECT_TRUE(warnings.contains("not valid UTF-8"));
  EXPECT_TRUE(warnings.contains("Line 1: Text before the first"));
  EXPECT_TRUE(warnings.contains("Line 4: A \"@topic\" line without a keyword"));
  EXPECT_TRUE(warnings.contains("Line 6: The keyword \"FIRST\" was already used on line 2"));
  EXPECT_TRUE(warnings.contains("Line 8: Unknown line \"@bogus\""));
  EXPECT_TRUE(warnings.contains("\"Second\" links to \"Missing\""));
}

TEST(HelpFileParseTest, ArbitraryBytesNeverBreakParsingOrRendering) {
  std::mt19937 random(1997);
  const QByteArray base(kSample);
  for (int round = 0; round < 300; ++round) {
    QByteArray bytes = base;
    const int changes = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < changes; ++i) {
      const auto at = static_cast<qsizetype>(random() % static_cast<unsigned>(bytes.size()));
      switch (random() % 3) {
        case 0:
          bytes[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          bytes.insert(at, "[[@**|]]\n=-\\#"[random() % 13]);
          break;
        default:
          bytes.remove(at, 1 + static_cast<qsizetype>(random() % 8));
          break;
      }
      if (bytes.isEmpty()) bytes = "@";
    }
    const HelpFile file = HelpFile::Parse(bytes);
    QString all = file.ContentsHtml();
    for (const HelpTopic& topic : file.topics()) all += file.PageHtml(topic.keyword);
    EXPECT_FALSE(all.isEmpty());
  }
}

TEST(HelpFileHtmlTest, LinksMarkupAndEscaping) {
  const HelpFile file = ParseText(kSample);
  const QString html = file.TopicHtml(*file.Find(u"Input Window"));
  EXPECT_TRUE(html.startsWith("<h2>The Edit Window</h2>"));
  EXPECT_TRUE(html.contains("<h3>Buttons</h3><ul><li><b>Update</b> writes"));
  // A link shows the words given, or the target's title, and points at the
  // keyword as the file spells it.
  EXPECT_TRUE(html.contains("<a href=\"topic:Pick%20Lists\">the lists</a>"));
  EXPECT_TRUE(
      html.contains("<b>See also:</b> <a href=\"topic:Pick%20Lists\">Pick Lists</a>, "
                    "<a href=\"topic:Contents\">Help Contents</a>"));
  EXPECT_TRUE(html.contains(" and Nowhere."));  // broken link: plain text
  EXPECT_TRUE(file.TopicHtml(*file.Find(u"pick lists")).contains("&lt;values&gt; &amp; more"));

  for (const QString& keyword : {QString("Input Window"), QString("Odd #?%/ keyword"),
                                 QString("//host/x"), QString("a:b")}) {
    EXPECT_EQ(HelpFile::KeywordOfLink(HelpFile::LinkUrl(keyword)), keyword);
    // As a click hands it over: read from the page's text.
    const QString href = HelpFile::LinkUrl(keyword).toString(QUrl::FullyEncoded);
    EXPECT_EQ(HelpFile::KeywordOfLink(QUrl(href)), keyword) << href.toStdString();
  }
  EXPECT_FALSE(HelpFile::KeywordOfLink(QUrl("https://example.org/topic")).has_value());
}

TEST(HelpFileHtmlTest, ContentsPageListsEveryTopicAndStandsInForUnknownKeywords) {
  const HelpFile file = ParseText(
      "@topic Contents\nWelcome.\n@topic zebra\n@topic Apple\n@title apple pie\n@topic Mango\n");
  const QString contents = file.ContentsHtml();
  EXPECT_TRUE(contents.startsWith("<h2>Contents</h2><p>Welcome.</p><h3>All topics</h3>"));
  const qsizetype apple = contents.indexOf(">apple pie</a>");
  const qsizetype mango = contents.indexOf(">Mango</a>");
  const qsizetype zebra = contents.indexOf(">zebra</a>");
  EXPECT_TRUE(apple > 0 && apple < mango && mango < zebra) << contents.toStdString();
  EXPECT_EQ(file.PageHtml(u"No such topic"), contents);
  EXPECT_EQ(file.PageHtml(u"contents"), contents);

  // Without a contents topic the page is made from the file's title alone.
  const HelpFile bare = ParseText("@title Coin Help\n@topic Only\nText.\n");
  EXPECT_TRUE(bare.ContentsHtml().startsWith("<h2>Coin Help</h2><h3>All topics</h3><ul><li>"));
  EXPECT_TRUE(HelpFile().ContentsHtml().startsWith("<h2>Contents</h2>"));
}

TEST(HelpFileLoadTest, MissingOrWrongFileGivesAClearError) {
  const test::TempDir dir;
  const QString missing = QString::fromStdString(dir.File("KLVCOIN.HLP"));
  QString error;
  EXPECT_FALSE(HelpFile::Load(missing, &error).has_value());
  EXPECT_EQ(error, "The help file \"" + missing + "\" does not exist.");

  EXPECT_FALSE(HelpFile::Load(QString::fromStdString(dir.path()), &error).has_value());
  EXPECT_TRUE(error.endsWith("is not a file.")) << error.toStdString();

  QFile big(missing);
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  ASSERT_TRUE(big.resize(HelpFile::kMaxFileBytes + 1));
  big.close();
  EXPECT_FALSE(HelpFile::Load(missing, &error).has_value());
  EXPECT_TRUE(error.endsWith("is too large to be a help file.")) << error.toStdString();
}

// The file the program ships: every keyword a window opens has its topic,
// and the file reads without a single warning (so no broken links either).
TEST(ShippedHelpFileTest, HasATopicForEveryProgramKeywordAndNoFaults) {
  QString error;
  const std::optional<HelpFile> file = HelpFile::Load(KLV_SHIPPED_HELP_FILE, &error);
  ASSERT_TRUE(file.has_value()) << error.toStdString();
  EXPECT_TRUE(file->warnings().isEmpty()) << file->warnings().join('\n').toStdString();
  for (const QString& keyword : ProgramHelpKeywords()) {
    const HelpTopic* topic = file->Find(keyword);
    ASSERT_NE(topic, nullptr) << keyword.toStdString();
    // A real description, not a placeholder line.
    qsizetype length = 0;
    for (const HelpBlock& block : topic->blocks) length += block.text.size();
    EXPECT_GE(length, 200) << keyword.toStdString();
  }
  for (const HelpTopic& topic : file->topics()) {
    EXPECT_FALSE(topic.blocks.empty()) << topic.keyword.toStdString();
  }
}

// The help window, with the program directory pointed at a temporary
// directory holding a small help file.
class HelpViewerTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_home_ = qgetenv("KLVCOIN_HOME");
    had_home_ = qEnvironmentVariableIsSet("KLVCOIN_HOME");
    qputenv("KLVCOIN_HOME", QByteArray::fromStdString(dir_.path()));
  }
  void TearDown() override {
    if (had_home_) {
      qputenv("KLVCOIN_HOME", saved_home_);
    } else {
      qunsetenv("KLVCOIN_HOME");
    }
  }

  QString WriteHelp(const char* text, const char* name = "KLVCOIN.HLP") {
    const QString path = QString::fromStdString(dir_.File(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    return path;
  }

  test::TempDir dir_;
  QByteArray saved_home_;
  bool had_home_ = false;
};

TEST_F(HelpViewerTest, OpensAtAKeywordAtTheContentsAndAtContentsForUnknownKeywords) {
  WriteHelp(kSample);
  QWidget owner;
  HelpWindow* window = ShowHelp(&owner, "input window");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->parentWidget(), &owner);
  EXPECT_EQ(window->current_keyword(), "Input Window");
  EXPECT_EQ(window->windowTitle(), "Coin Help - The Edit Window");
  EXPECT_TRUE(window->browser()->toPlainText().contains("joined with the second."));
  // The topic list holds the contents first, then the topics in file order,
  // and marks the page shown.
  ASSERT_EQ(window->topic_list()->count(), 3);
  EXPECT_EQ(window->topic_list()->item(0)->text(), "Help Contents");
  EXPECT_EQ(window->topic_list()->currentRow(), 1);

  // The same owner (here through a child control) gets the same window.
  QWidget* control = new QWidget(&owner);
  EXPECT_EQ(ShowHelpContents(control), window);
  EXPECT_TRUE(window->showing_contents());
  EXPECT_TRUE(window->browser()->toPlainText().contains("All topics"));

  EXPECT_EQ(ShowHelp(&owner, "No Such Window"), window);
  EXPECT_TRUE(window->showing_contents());
  EXPECT_EQ(window->topic_list()->currentRow(), 0);
}

TEST_F(HelpViewerTest, LinksAndTheTopicListNavigateAndBackReturns) {
  WriteHelp(kSample);
  QWidget owner;
  HelpWindow* window = ShowHelpContents(&owner);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->back_button()->isEnabled());

  emit window->browser()->anchorClicked(HelpFile::LinkUrl("Input Window"));
  EXPECT_EQ(window->current_keyword(), "Input Window");
  emit window->browser()->anchorClicked(QUrl("https://example.org/"));  // ignored
  EXPECT_EQ(window->current_keyword(), "Input Window");

  QListWidget* list = window->topic_list();
  QListWidgetItem* pick_lists = list->item(2);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(pick_lists).center());
  EXPECT_EQ(window->current_keyword(), "Pick Lists");

  ASSERT_TRUE(window->back_button()->isEnabled());
  QTest::mouseClick(window->back_button(), Qt::LeftButton);
  EXPECT_EQ(window->current_keyword(), "Input Window");
  QTest::mouseClick(window->back_button(), Qt::LeftButton);
  EXPECT_TRUE(window->showing_contents());
  EXPECT_FALSE(window->back_button()->isEnabled());
  EXPECT_FALSE(window->GoBack());

  QTest::mouseClick(window->contents_button(), Qt::LeftButton);  // already there
  EXPECT_FALSE(window->can_go_back());
}

TEST_F(HelpViewerTest, MissingFileIsReportedNamingEveryPlaceSearched) {
  test::TestPrompts().AnswerMessage(MsgButton::kOk);
  QWidget owner;
  EXPECT_EQ(ShowHelp(&owner, "Input Window"), nullptr);
  const std::vector<test::AskedPrompt> asked = test::TestPrompts().Messages();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].caption, "Error");
  EXPECT_EQ(asked[0].icon, MsgIcon::kError);
  EXPECT_EQ(asked[0].buttons, MsgButtons::kOk);
  EXPECT_TRUE(asked[0].text.startsWith("The help file \"KLVCOIN.HLP\" could not be found."));
  const QStringList places = HelpFileDirectories();
  ASSERT_GE(places.size(), 2);
  EXPECT_EQ(places[0], QString::fromStdString(dir_.path()));
  for (const QString& place : places) EXPECT_TRUE(asked[0].text.contains(place));
  EXPECT_EQ(owner.findChild<HelpWindow*>(), nullptr);
}

TEST_F(HelpViewerTest, FileOfAnyLetterCaseIsFoundAndAChangedFileIsReadAgain) {
  const QString path = WriteHelp("@topic Old\nOld text.\n", "klvcoin.hlp");
  EXPECT_EQ(FindHelpFile(), path);
  QWidget owner;
  HelpWindow* window = ShowHelp(&owner, "Old");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->current_keyword(), "Old");

  WriteHelp("@topic New\nNew text.\n", "klvcoin.hlp");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(window->modified().addSecs(5), QFileDevice::FileModificationTime));
  file.close();
  EXPECT_EQ(ShowHelp(&owner, "new"), window);
  EXPECT_EQ(window->current_keyword(), "New");
  EXPECT_TRUE(window->browser()->toPlainText().contains("New text."));
}

}  // namespace
}  // namespace klv::platform
