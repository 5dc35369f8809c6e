#include "find/SrchRep.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include "app/AppTexts.h"
#include "db/FieldTable.h"
#include "find/FindTexts.h"
#include "forms/BusyRun.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "forms/MaskedInput.h"
#include "platform/Prompts.h"

namespace klv::find {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

// Where the counters are drawn on the form at factor 1.
constexpr int kCounterY = 225;
constexpr int kCounterX[3] = {70, 190, 310};

void Paint(QWidget* control, const QColor& background, const QColor& text, bool fill = true) {
  forms::SetControlColors(control, background, text);
  control->setAutoFillBackground(fill);
}

bool HasIndexTag(const dbf::Table& table) {
  for (const dbf::TagInfo& t : table.Tags()) {
    if (QString::fromStdString(t.name).compare(QLatin1String(app::texts::kIndexTag),
                                               Qt::CaseInsensitive) == 0)
      return true;
  }
  return false;
}

// The edit's text as typed, blanks of a mask as spaces.
QString EditText(const QLineEdit* edit) {
  return edit->inputMask().isEmpty() ? edit->text() : edit->displayText();
}

}  // namespace

QString EditInputMask(const QString& mask, QChar date_separator) {
  if (mask.isEmpty()) return {};
  const QString picture = mask.section(u';', 0, 0);
  QString out;
  for (QChar c : picture) {
    switch (c.unicode()) {
      case u'9':
        out += u'0';
        break;
      case u'0':
        out += u'9';
        break;
      case u'c':
        out += u'x';
        break;
      case u'C':
        out += u'X';
        break;
      case u'/':
        out += u'\\';
        out += date_separator;
        break;
      default:
        out += u'\\';
        out += c;
        break;
    }
  }
  return out + QStringLiteral("; ");
}

TSearchAndReplace::TSearchAndReplace(app::OpenDatabase& database, QWidget* parent)
    : QDialog(parent), db_(database), state_(database.state()) {
  setObjectName(QStringLiteral("SearchAndReplace"));
  setWindowTitle(QString::fromUtf8(texts::kReplaceCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  auto label = [this](const char* text, const char* name, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    return l;
  };
  FieldLabel = label(texts::kReplaceFieldLabel, "FieldLabel", 16, 18);
  FieldBox = new QComboBox(this);
  FieldBox->setObjectName(QStringLiteral("FieldBox"));
  FieldBox->setEditable(false);
  FieldBox->setMaxVisibleItems(15);
  // Styles that drop the list as a menu would show every field at once.
  FieldBox->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  FieldBox->setGeometry(150, 14, 200, 23);
  SearchLabel = label(texts::kReplaceSearchLabel, "SearchLabel", 16, 54);
  SearchText = new QLineEdit(this);
  SearchText->setObjectName(QStringLiteral("SearchText"));
  SearchText->setGeometry(150, 50, 250, 23);
  ReplaceLabel = label(texts::kReplaceReplacementLabel, "ReplaceLabel", 16, 90);
  ReplaceText = new QLineEdit(this);
  ReplaceText->setObjectName(QStringLiteral("ReplaceText"));
  ReplaceText->setGeometry(150, 86, 250, 23);
  forms::TakeTypedInput(SearchText);
  forms::TakeTypedInput(ReplaceText);
  ConfirmBox = new QCheckBox(QString::fromUtf8(texts::kReplaceConfirmBox), this);
  ConfirmBox->setObjectName(QStringLiteral("ConfirmBox"));
  ConfirmBox->setGeometry(150, 120, 250, 20);
  auto button = [this](const char* text, const char* name, int x) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    b->setGeometry(x, 152, 110, 27);
    return b;
  };
  StartButton = button(texts::kReplaceStart, "StartButton", 90);
  CancelButton = button(texts::kReplaceCancel, "CancelButton", 240);
  CounterFrame = new QFrame(this);
  CounterFrame->setObjectName(QStringLiteral("CounterFrame"));
  CounterFrame->setFrameShape(QFrame::Box);
  CounterFrame->setGeometry(16, 192, 390, 56);
  // The counters are drawn on the form behind the frame.
  CounterFrame->setAttribute(Qt::WA_TransparentForMouseEvents);
  ProcessedLabel = label(texts::kProcessed, "ProcessedLabel", kCounterX[0], 202);
  FoundLabel = label(texts::kFound, "FoundLabel", kCounterX[1], 202);
  ChangedLabel = label(texts::kChanged, "ChangedLabel", kCounterX[2], 202);
  resize(422, 262);

  for (int f = 1; f <= db::kFieldCount; ++f)
    FieldBox->addItem(state_.settings.field_names[static_cast<size_t>(f)]);
  FieldBox->setCurrentIndex(-1);

  connect(FieldBox, &QComboBox::currentIndexChanged, this, &TSearchAndReplace::FieldBoxChange);
  connect(StartButton, &QPushButton::clicked, this, &TSearchAndReplace::StartButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TSearchAndReplace::CancelButtonClick);
}

QPoint TSearchAndReplace::CounterPosition(int which) const {
  const double factor = shown_ ? forms::EffectiveScaleFactor(state_.scale_factor) : 1.0;
  return {static_cast<int>(std::lround(kCounterX[which] * factor)),
          static_cast<int>(std::lround(kCounterY * factor))};
}

void TSearchAndReplace::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !shown_) {
    FormShow();
    shown_ = true;
  }
  QDialog::showEvent(event);
}

void TSearchAndReplace::FormShow() {
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::ApplyUserFonts(this, state_.fonts);
  // A scaled font's text grows faster than the scaled label holding it.
  for (QLabel* l : {FieldLabel, SearchLabel, ReplaceLabel})
    l->resize(std::max(l->width(), l->sizeHint().width()),
              std::max(l->height(), l->sizeHint().height()));
  SetColors();
}

void TSearchAndReplace::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  Paint(this, c[app::kMainBackground], c[app::kMajorTitle]);
  for (QLabel* l :
       {FieldLabel, SearchLabel, ReplaceLabel, ProcessedLabel, FoundLabel, ChangedLabel})
    Paint(l, c[app::kMainBackground], c[app::kMajorTitle], false);
  Paint(CounterFrame, QColor(), c[app::kMajorTitle], false);
  Paint(ConfirmBox, c[app::kCheckBackground], c[app::kCheckText]);
  Paint(SearchText, c[app::kEditBackground], c[app::kEditText]);
  Paint(ReplaceText, c[app::kEditBackground], c[app::kEditText]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TSearchAndReplace::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const int32_t values[3] = {counters_.processed, counters_.found, counters_.changed};
  for (int i = 0; i < 3; ++i) {
    const QPoint at = CounterPosition(i);
    painter.drawText(QRect(at, QSize(width() - at.x(), fontMetrics().height() + 2)),
                     Qt::AlignLeft | Qt::AlignTop, FormatCount(values[i]));
  }
}

void TSearchAndReplace::FieldBoxChange() {
  field_no_ = FieldBox->currentIndex() + 1;
  SearchText->clear();
  ReplaceText->clear();
  const ReplaceEditSetup setup = ReplaceEdit(field_no_);
  const QChar separator = db_.MyTable().IsOpen()
                              ? QChar::fromLatin1(db_.MyTable().text_format().date_separator)
                              : QChar(u'/');
  for (QLineEdit* edit : {SearchText, ReplaceText}) {
    edit->setInputMask(EditInputMask(setup.mask, separator));
    edit->setMaxLength(setup.max_length > 0 ? setup.max_length : 32767);
  }
}

void TSearchAndReplace::CancelButtonClick() {
  reject();
}

void TSearchAndReplace::StartButtonClick() {
  try {
    DoStart();
  } catch (const std::exception&) {
    // The run ended part way; what was posted before stays, and the table is
    // open shared again. The command ends, its runner shows the error.
    error_ = std::current_exception();
    reject();
  }
}

void TSearchAndReplace::RestoreAfterRun(dbf::Table& table, bool was_searching) {
  if (was_searching && !db_.searching()) db_.SetSearchMode(true);
  const QString& sort = db_.sort_string();
  if (sort.isEmpty()) {
    table.SetIndexName("");
    return;
  }
  if (!HasIndexTag(table)) table.AddIndex(app::texts::kIndexTag, sort.toStdString());
  table.SetIndexName(app::texts::kIndexTag);
}

void TSearchAndReplace::DoStart() {
  const ReplaceCheck check =
      CheckReplaceInput(field_no_, EditText(SearchText), EditText(ReplaceText),
                        state_.settings.date_format, &db_.MyTable());
  if (!check.ok) {
    prompts().Notify(this, QString::fromUtf8(texts::kError), check.message, MsgIcon::kError);
    switch (check.focus) {
      case ReplaceCheck::Focus::kFieldBox:
        FieldBox->setFocus();
        break;
      case ReplaceCheck::Focus::kSearchText:
        SearchText->setFocus();
        break;
      case ReplaceCheck::Focus::kReplaceText:
        ReplaceText->setFocus();
        break;
      case ReplaceCheck::Focus::kNone:
        break;
    }
    return;
  }

  enum class Stage { kOpening, kDropping, kRunning };
  Stage stage = Stage::kOpening;
  const bool was_searching = db_.searching();
  ReplaceRun run;
  ReplaceHooks hooks;
  if (ConfirmBox->isChecked()) {
    hooks.confirm = [this](const QString& prompt) {
      // The question takes the ordinary pointer; the hourglass comes back after.
      QApplication::setOverrideCursor(Qt::ArrowCursor);
      const bool yes =
          prompts().MessageBox(this, QString::fromUtf8(texts::kConfirm), prompt, MsgIcon::kQuestion,
                               MsgButtons::kYesNo) == MsgButton::kYes;
      QApplication::restoreOverrideCursor();
      return yes;
    };
  }
  hooks.counters = [this](const ReplaceCounters& counters) {
    // Drawn when the run next lets the window paint, at most every
    // BusyRun::kPulseInterval: a paint per row would cost more than the row.
    counters_ = counters;
    update();
    forms::BusyRun::Pulse();
  };
  auto action = [&](dbf::Table& table) {
    stage = Stage::kDropping;
    counters_ = {};
    repaint();
    try {
      if (QFileInfo::exists(QString::fromStdString(table.MdxPath()))) {
        table.SetIndexName("");
        if (HasIndexTag(table)) table.DeleteIndex(app::texts::kIndexTag);
      }
      stage = Stage::kRunning;
      // Every row is visited, not only the search result.
      table.SetFiltered(false);
      if (was_searching) db_.SetSearchMode(false);
      // The pictures of the coins changed follow them in a few writes.
      pictures::CoinFollower::Gathering gathering(db_.pictures_follower());
      run = RunReplace(table, check.plan, hooks);
      gathering.End();
    } catch (...) {
      try {
        RestoreAfterRun(table, was_searching);
      } catch (const std::exception&) {
        // The failure of the run is the one to report; the shared reopen
        // finds the index missing and orders by record.
      }
      throw;
    }
    RestoreAfterRun(table, was_searching);
  };

  app::OpenDatabase::ExclusiveResult result{};
  bool failed = false;
  QString reason;
  {
    forms::BusyRun busy;
    try {
      result = db_.WithExclusiveUse(action);
    } catch (const dbf::DbfError& e) {
      failed = true;
      reason = QString::fromStdString(e.what());
    }
  }
  repaint();
  if (failed && stage != Stage::kRunning) {
    prompts().Notify(this, QString::fromUtf8(texts::kError),
                     QString::fromUtf8(texts::kReplaceRunError), MsgIcon::kError);
    return;
  }
  if (failed) {
    // What was posted before the error stays: say how much, and why the run
    // stopped. The table is open shared again, with its sort index.
    prompts().Notify(
        this, QString::fromUtf8(texts::kError),
        QString::fromUtf8(texts::kReplaceRunError) + QStringLiteral("  ") +
            QString::fromUtf8(texts::kReplaceChangedStart) + FormatCount(counters_.changed) +
            QString::fromUtf8(texts::kReplaceChangedEnd) + QStringLiteral("\n\n") + reason,
        MsgIcon::kError);
    reject();
    return;
  }
  if (result == app::OpenDatabase::ExclusiveResult::kInUse) {
    prompts().Notify(this, QString::fromUtf8(texts::kError),
                     QString::fromUtf8(texts::kReplaceInUse), MsgIcon::kError);
    return;
  }
  if (!run.ran) {
    prompts().Notify(this, QString::fromUtf8(texts::kError), run.message, MsgIcon::kError);
    return;
  }
  prompts().Notify(this, QString::fromUtf8(texts::kFinished),
                   QString::fromUtf8(texts::kReplaceComplete), MsgIcon::kInformation);
  accept();
}

void ShowSearchAndReplace(app::OpenDatabase& database, QWidget* owner) {
  TSearchAndReplace form(database, owner);
  form.exec();
  if (form.error()) std::rethrow_exception(form.error());
}

}  // namespace klv::find
