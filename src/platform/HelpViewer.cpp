#include "platform/HelpViewer.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/Paths.h"
#include "platform/PlatformTexts.h"
#include "platform/Prompts.h"

namespace klv::platform {

namespace {

QString MissingHelpFileText(const QStringList& directories) {
  return QString::fromLatin1(texts::kHelpFileMissing)
      .arg(QLatin1String(kHelpFileName), directories.join(QLatin1Char('\n')));
}

QPointer<HelpWindow>& UnownedHelpWindow() {
  static QPointer<HelpWindow> window;
  return window;
}

}  // namespace

QStringList ProgramHelpKeywords() {
  using namespace help_keyword;
  QStringList keywords;
  for (const char* keyword :
       {kContents, kInputWindow, kSearchWindow, kExportWindow, kImportWindow, kReportWindow,
        kUserDefinedReports, kBackupAndRestore, kViewerConfigurationTitle, kViewerConfigurationLook,
        kViewerConfigurationShow, kViewerConfigurationWidths, kViewerConfigurationOrder,
        kViewerConfigurationNames}) {
    keywords.append(QLatin1String(keyword));
  }
  return keywords;
}

QStringList HelpFileDirectories() {
  QStringList directories;
  for (const QString& dir : QStringList{LocateDirectories().program} + ShippedFileDirectories()) {
    if (!dir.isEmpty() && !directories.contains(dir)) directories.append(dir);
  }
  return directories;
}

QString FindHelpFile() {
  for (const QString& directory : HelpFileDirectories()) {
    const QString path = FindFileNoCase(directory, QLatin1String(kHelpFileName));
    if (!path.isEmpty()) return path;
  }
  return QString();
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QLatin1String(texts::kHelpTitle));

  contents_button_ = new QPushButton(QStringLiteral("&Contents"), this);
  back_button_ = new QPushButton(QStringLiteral("&Back"), this);
  back_button_->setShortcut(QKeySequence::Back);
  back_button_->setEnabled(false);
  close_button_ = new QPushButton(QStringLiteral("C&lose"), this);

  topic_list_ = new QListWidget(this);
  browser_ = new QTextBrowser(this);
  // Links are topic keywords, not documents: the window follows them itself.
  browser_->setOpenLinks(false);
  browser_->setOpenExternalLinks(false);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(topic_list_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 560});

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents_button_);
  buttons->addWidget(back_button_);
  buttons->addStretch(1);
  buttons->addWidget(close_button_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(splitter, 1);

  connect(contents_button_, &QPushButton::clicked, this, &HelpWindow::ShowContents);
  connect(back_button_, &QPushButton::clicked, this, [this] { GoBack(); });
  connect(close_button_, &QPushButton::clicked, this, &QWidget::close);
  connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::OpenLink);
  connect(topic_list_, &QListWidget::itemClicked, this, &HelpWindow::TopicListClicked);
  connect(topic_list_, &QListWidget::itemActivated, this, &HelpWindow::TopicListClicked);

  resize(840, 560);
}

void HelpWindow::SetHelpFile(HelpFile file, const QString& path, const QDateTime& modified) {
  file_ = std::move(file);
  path_ = path;
  modified_ = modified;
  history_.clear();
  back_button_->setEnabled(false);
  current_.clear();
  FillTopicList();
}

void HelpWindow::FillTopicList() {
  topic_list_->clear();
  const HelpTopic* contents = file_.contents();
  auto* first = new QListWidgetItem(
      contents != nullptr ? contents->title : QLatin1String(HelpFile::kContentsKeyword));
  first->setData(Qt::UserRole, QLatin1String(HelpFile::kContentsKeyword));
  topic_list_->addItem(first);
  for (const HelpTopic& topic : file_.topics()) {
    if (&topic == contents) continue;
    auto* item = new QListWidgetItem(topic.title);
    item->setData(Qt::UserRole, topic.keyword);
    topic_list_->addItem(item);
  }
}

void HelpWindow::ShowKeyword(const QString& keyword) {
  Display(keyword, /*remember=*/true);
}

void HelpWindow::ShowContents() {
  Display(QLatin1String(HelpFile::kContentsKeyword), /*remember=*/true);
}

bool HelpWindow::GoBack() {
  if (history_.empty()) return false;
  const QString previous = history_.back();
  history_.pop_back();
  Display(previous, /*remember=*/false);
  return true;
}

bool HelpWindow::showing_contents() const {
  return HelpFile::IsContentsKeyword(current_);
}

void HelpWindow::Display(const QString& keyword, bool remember) {
  const HelpTopic* topic = HelpFile::IsContentsKeyword(keyword) ? nullptr : file_.Find(keyword);
  const QString shown =
      topic != nullptr ? topic->keyword : QLatin1String(HelpFile::kContentsKeyword);
  if (remember && !current_.isEmpty() && shown != current_) history_.push_back(current_);
  current_ = shown;
  back_button_->setEnabled(!history_.empty());

  browser_->setHtml(file_.PageHtml(shown));
  QString page_title = topic != nullptr ? topic->title : QString();
  if (topic == nullptr) {
    const HelpTopic* contents = file_.contents();
    page_title = contents != nullptr ? contents->title : QLatin1String(HelpFile::kContentsKeyword);
  }
  const QString file_title =
      file_.title().isEmpty() ? QString::fromLatin1(texts::kHelpTitle) : file_.title();
  setWindowTitle(file_title + QStringLiteral(" - ") + page_title);

  // Mark the page in the list without the list reporting it as a click.
  const QSignalBlocker block(topic_list_);
  for (int row = 0; row < topic_list_->count(); ++row) {
    QListWidgetItem* item = topic_list_->item(row);
    if (HelpFile::LookupKey(item->data(Qt::UserRole).toString()) == HelpFile::LookupKey(shown)) {
      topic_list_->setCurrentItem(item);
      break;
    }
  }
}

void HelpWindow::OpenLink(const QUrl& url) {
  const std::optional<QString> keyword = HelpFile::KeywordOfLink(url);
  // The pages link only to topics; anything else is ignored rather than
  // handed to some other program.
  if (keyword) ShowKeyword(*keyword);
}

void HelpWindow::TopicListClicked(QListWidgetItem* item) {
  if (item != nullptr) ShowKeyword(item->data(Qt::UserRole).toString());
}

HelpWindow* ShowHelp(QWidget* owner, const QString& keyword) {
  const QString path = FindHelpFile();
  if (path.isEmpty()) {
    prompts().Notify(owner, QLatin1String(texts::kCaptionError),
                     MissingHelpFileText(HelpFileDirectories()), MsgIcon::kError);
    return nullptr;
  }

  QWidget* top = owner != nullptr ? owner->window() : nullptr;
  HelpWindow* window = top != nullptr
                           ? top->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly)
                           : UnownedHelpWindow().data();

  const QDateTime modified = QFileInfo(path).lastModified();
  if (window == nullptr || window->path() != path || window->modified() != modified) {
    QString error;
    std::optional<HelpFile> file = HelpFile::Load(path, &error);
    if (!file) {
      prompts().Notify(owner, QLatin1String(texts::kCaptionError), error, MsgIcon::kError);
      return nullptr;
    }
    if (window == nullptr) {
      window = new HelpWindow(top);
      if (top == nullptr) UnownedHelpWindow() = window;
    }
    window->SetHelpFile(std::move(*file), path, modified);
  }

  window->ShowKeyword(keyword);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

HelpWindow* ShowHelpContents(QWidget* owner) {
  return ShowHelp(owner, QLatin1String(HelpFile::kContentsKeyword));
}

}  // namespace klv::platform
