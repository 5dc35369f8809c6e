// The help window and the two calls every form's Help command makes:
// ShowHelp(owner, keyword) and ShowHelpContents(owner).
//
// The help file is "KLVCOIN.HLP" (format in HelpFile.h). It is looked for, in
// this order, in the program directory (Paths.h), beside the running program,
// and in ../share/klvcoin from the running program (where an installed
// program keeps it); the first place that holds it wins, its name matched
// without regard to letter case. The file is read again whenever it has changed since the window
// last showed it, so an edited file shows at the next Help command.
//
// Each top-level window has at most one help window: asking again from the
// same window (or any control on it) moves that help window to the new topic
// and raises it. The help window is a separate, non-modal top-level window
// owned by the asking window, so it stays usable while that window is modal,
// and goes away with it.
#pragma once

#include <vector>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "platform/HelpFile.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTextBrowser;
class QUrl;

namespace klv::platform {

// The help file's name.
inline constexpr char kHelpFileName[] = "KLVCOIN.HLP";

// The keywords the program's windows open the help file at. The shipped help
// file has a topic for each (checked by the tests).
namespace help_keyword {
inline constexpr char kContents[] = "Contents";
inline constexpr char kInputWindow[] = "Input Window";
inline constexpr char kSearchWindow[] = "Search Window";
inline constexpr char kExportWindow[] = "Export Window";
inline constexpr char kImportWindow[] = "Import Window";
inline constexpr char kReportWindow[] = "Report Window";
inline constexpr char kUserDefinedReports[] = "User Defined Reports";
inline constexpr char kBackupAndRestore[] = "Backup and Restore";
inline constexpr char kViewerConfigurationTitle[] = "Viewer Configuration Title";
inline constexpr char kViewerConfigurationLook[] = "Viewer Configuration Look";
inline constexpr char kViewerConfigurationShow[] = "Viewer Configuration Show";
inline constexpr char kViewerConfigurationWidths[] = "Viewer Configuration Widths";
inline constexpr char kViewerConfigurationOrder[] = "Viewer Configuration Order";
inline constexpr char kViewerConfigurationNames[] = "Viewer Configuration Names";
}  // namespace help_keyword
// All of the above, for checks over the set.
QStringList ProgramHelpKeywords();

// The directories searched for the help file, in order, without duplicates.
QStringList HelpFileDirectories();
// The help file's path, or an empty string when none of the directories holds
// it.
QString FindHelpFile();

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  // A top-level window (owned by parent when given); shows nothing until a
  // help file is set.
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows file (read from path, last changed at modified) from now on; the
  // history of pages is forgotten.
  void SetHelpFile(HelpFile file, const QString& path, const QDateTime& modified);
  const HelpFile& help_file() const { return file_; }
  const QString& path() const { return path_; }
  const QDateTime& modified() const { return modified_; }

  // Shows the topic of keyword; the contents page for the contents keyword
  // and for a keyword the file has no topic for. The page shown before goes
  // on the Back history.
  void ShowKeyword(const QString& keyword);
  void ShowContents();
  // Goes back to the page shown before the current one; false when there is
  // none.
  bool GoBack();

  // The keyword of the page shown: a topic's keyword as the file writes it,
  // or kContentsKeyword for the contents page.
  const QString& current_keyword() const { return current_; }
  bool showing_contents() const;
  bool can_go_back() const { return !history_.empty(); }

  // The controls, for tests and for anyone placing the window.
  QTextBrowser* browser() const { return browser_; }
  QListWidget* topic_list() const { return topic_list_; }
  QPushButton* back_button() const { return back_button_; }
  QPushButton* contents_button() const { return contents_button_; }

 private:
  void Display(const QString& keyword, bool remember);
  void OpenLink(const QUrl& url);
  void TopicListClicked(QListWidgetItem* item);
  void FillTopicList();

  HelpFile file_;
  QString path_;
  QDateTime modified_;
  QString current_;
  std::vector<QString> history_;

  QListWidget* topic_list_ = nullptr;
  QTextBrowser* browser_ = nullptr;
  QPushButton* back_button_ = nullptr;
  QPushButton* contents_button_ = nullptr;
  QPushButton* close_button_ = nullptr;
};

// Opens the help file at keyword (the contents page when the file has no such
// topic) in owner's help window, creating it when needed, and returns that
// window. When the help file cannot be found or read, says so in an error box
// through prompts() and returns null. owner may be null (a help window of its
// own, kept until closed).
HelpWindow* ShowHelp(QWidget* owner, const QString& keyword);
// The same at the contents page.
HelpWindow* ShowHelpContents(QWidget* owner);

}  // namespace klv::platform
