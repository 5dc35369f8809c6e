#include "report/UserRep1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "base/Error.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"
#include "report/RepFonts.h"
#include "report/ReportTexts.h"
#include "report/UserRep2.h"

namespace klv::report {

namespace t = report::texts;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

using platform::L;

QString MarginText(double inches) {
  return QString::number(inches, 'f', 2);
}

}  // namespace

TUserReport::TUserReport(QWidget* parent, const app::AppState& state, UrpFile& file)
    : QDialog(parent), state_(state), file_(file), def_(NewReportDef()) {
  setObjectName(QStringLiteral("UserReport"));
  setWindowTitle(L(t::kUserReportCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  BuildControls();
}

void TUserReport::BuildControls() {
  auto label = [this](const char* text, int x, int y, int w) {
    auto* l = new QLabel(L(text), this);
    l->setGeometry(x, y, w, 16);
    return l;
  };
  auto edit = [](QWidget* parent, const char* name, int x, int y, int w, int max_length) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(x, y, w, 24);
    e->setMaxLength(max_length);
    return e;
  };

  label(t::kReportNameLabel, 12, 10, 200);
  ReportName = edit(this, "ReportName", 12, 28, 300, 30);
  label(t::kTitlesLabel, 12, 60, 200);
  const char* title_names[3] = {"Title1", "Title2", "Title3"};
  for (int i = 0; i < 3; ++i)
    Titles[static_cast<size_t>(i)] = edit(this, title_names[i], 12, 78 + 28 * i, 620, 80);

  WidthGroup = new QGroupBox(L(t::kWidthGroup), this);
  WidthGroup->setObjectName(QStringLiteral("WidthGroup"));
  WidthGroup->setGeometry(12, 170, 130, 100);
  const char* width_names[3] = {"Width90", "Width120", "Width150"};
  const char* width_texts[3] = {t::k90Chars, t::k120Chars, t::k150Chars};
  const int widths[3] = {90, 120, 150};
  QRadioButton** radios[3] = {&Width90, &Width120, &Width150};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(L(width_texts[i]), WidthGroup);
    r->setObjectName(QLatin1String(width_names[i]));
    r->setGeometry(10, 22 + 24 * i, 110, 20);
    const int width = widths[i];
    connect(r, &QRadioButton::clicked, this, [this, width] { WidthClick(width); });
    *radios[i] = r;
  }

  label(t::kNumLinesLabel, 12, 282, 130);
  NumLines = edit(this, "NumLines", 12, 300, 40, 2);
  connect(NumLines, &QLineEdit::editingFinished, this, &TUserReport::NumLinesExit);

  auto* margins = new QGroupBox(L(t::kMarginsGroup), this);
  margins->setObjectName(QStringLiteral("MarginsGroup"));
  margins->setGeometry(152, 170, 140, 154);
  const char* margin_labels[4] = {t::kTopMarginLabel, t::kBottomMarginLabel, t::kLeftMarginLabel,
                                  t::kRightMarginLabel};
  const char* margin_names[4] = {"TopMargin", "BottomMargin", "LeftMargin", "RightMargin"};
  QLineEdit** margin_edits[4] = {&TopMargin, &BottomMargin, &LeftMargin, &RightMargin};
  for (int i = 0; i < 4; ++i) {
    auto* l = new QLabel(L(margin_labels[i]), margins);
    l->setGeometry(10, 26 + 30 * i, 60, 16);
    *margin_edits[i] = edit(margins, margin_names[i], 72, 22 + 30 * i, 56, 5);
    connect(*margin_edits[i], &QLineEdit::editingFinished, this, &TUserReport::NumLinesExit);
  }

  auto* options = new QGroupBox(L(t::kOptionsGroup), this);
  options->setObjectName(QStringLiteral("OptionsGroup"));
  options->setGeometry(302, 170, 330, 154);
  const char* check_texts[10] = {t::kColumnHeaders, t::kPageNumbers, t::kPrintLandscape,
                                 t::kDateOnPages,   t::kUseTotals,   t::kHorizontalLines,
                                 t::kVerticalLines, t::kGroupLevel1, t::kGroupLevel2,
                                 t::kPrintObverse};
  const char* check_names[10] = {
      "ColumnHeaders",   "PageNumbers",   "PrintLandscape", "DateOnPages", "UseTotals",
      "HorizontalLines", "VerticalLines", "GroupLevel1",    "GroupLevel2", "PrintObverse"};
  QCheckBox** checks[10] = {&ColumnHeaders, &PageNumbers,     &PrintLandscape, &DateOnPages,
                            &UseTotals,     &HorizontalLines, &VerticalLines,  &GroupLevel1,
                            &GroupLevel2,   &PrintObverse};
  // Two columns of five.
  for (int i = 0; i < 10; ++i) {
    auto* c = new QCheckBox(L(check_texts[i]), options);
    c->setObjectName(QLatin1String(check_names[i]));
    c->setGeometry(i < 5 ? 10 : 150, 22 + 26 * (i % 5), i < 5 ? 136 : 170, 20);
    *checks[i] = c;
  }
  connect(GroupLevel1, &QCheckBox::clicked, this, &TUserReport::GroupLevel1Click);

  auto* fonts = new QGroupBox(L(t::kFontsGroup), this);
  fonts->setObjectName(QStringLiteral("FontsGroup"));
  fonts->setGeometry(12, 336, 620, 84);
  const char* font_labels[4] = {t::kTitlesFont, t::kColumnHeaderFont, t::kReportBodyFont,
                                t::kFootnoteFont};
  const char* font_names[4] = {"TitlesFontText", "HeaderFontText", "BodyFontText",
                               "FootnoteFontText"};
  QLineEdit** font_edits[4] = {&TitlesFontText, &HeaderFontText, &BodyFontText, &FootnoteFontText};
  for (int i = 0; i < 4; ++i) {
    const int x = 10 + (i % 2) * 305, y = 20 + (i / 2) * 30;
    auto* l = new QLabel(L(font_labels[i]), fonts);
    l->setGeometry(x, y + 4, 136, 16);
    QLineEdit* e = edit(fonts, font_names[i], x + 140, y, 154, 50);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    *font_edits[i] = e;
  }

  auto button = [this](const char* text, const char* name, int x, int y, int w) {
    auto* b = new QPushButton(L(text), this);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, 28);
    return b;
  };
  SetFontsButton = button(t::kSetFontsButton, "SetFontsButton", 12, 432, 130);
  SpecifyContentButton = button(t::kSpecifyContentButton, "SpecifyContentButton", 152, 432, 190);
  HelpButton = button(t::kHelpButton, "HelpButton", 542, 468, 90);
  UpdateButton = button(t::kUpdateButton, "UpdateButton", 12, 468, 130);
  DeleteButton = button(t::kDeleteButton, "DeleteButton", 152, 468, 130);
  CancelButton = button(t::kCancelButton, "CancelButton", 292, 468, 130);
  UpdateButton->setDefault(true);
  connect(SetFontsButton, &QPushButton::clicked, this, &TUserReport::SetFontsButtonClick);
  connect(SpecifyContentButton, &QPushButton::clicked, this,
          &TUserReport::SpecifyContentButtonClick);
  connect(UpdateButton, &QPushButton::clicked, this, &TUserReport::UpdateButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TUserReport::DeleteButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TUserReport::CancelButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TUserReport::HelpButtonClick);
  connect(ReportName, &QLineEdit::editingFinished, this, &TUserReport::ReportNameExit);
  resize(644, 508);
}

// ---------------------------------------------------------------------------
// Opening

void TUserReport::PrepareNew() {
  modify_ = false;
  index_ = -1;
  def_ = NewReportDef();
  original_name_.clear();
  result_ = DesignResult{};
  ShowDefinition();
}

bool TUserReport::PrepareExisting(int index) {
  result_ = DesignResult{};
  try {
    def_ = file_.Read(index);
  } catch (const std::exception& e) {
    ShowIoError(e);
    return false;
  }
  modify_ = true;
  index_ = index;
  original_name_ = def_.name;
  ShowDefinition();
  return true;
}

DesignResult TUserReport::EditNew() {
  PrepareNew();
  exec();
  return result_;
}

DesignResult TUserReport::EditExisting(int index) {
  if (!PrepareExisting(index)) return result_;
  exec();
  return result_;
}

void TUserReport::ShowDefinition() {
  ReportName->setText(def_.name);
  for (size_t i = 0; i < Titles.size(); ++i) Titles[i]->setText(def_.titles[i]);
  ShowWidth(def_.width);
  NumLines->setText(QString::number(def_.lines));
  TopMargin->setText(MarginText(def_.top_margin));
  BottomMargin->setText(MarginText(def_.bottom_margin));
  LeftMargin->setText(MarginText(def_.left_margin));
  RightMargin->setText(MarginText(def_.right_margin));
  ColumnHeaders->setChecked(def_.column_headers);
  PageNumbers->setChecked(def_.page_numbers);
  PrintLandscape->setChecked(def_.landscape);
  DateOnPages->setChecked(def_.date_on_pages);
  UseTotals->setChecked(def_.use_totals);
  HorizontalLines->setChecked(def_.horizontal_lines);
  VerticalLines->setChecked(def_.vertical_lines);
  GroupLevel1->setChecked(def_.group_level1);
  GroupLevel2->setChecked(def_.group_level2);
  PrintObverse->setChecked(def_.print_obverse);
  ShowFontTexts();
  DeleteButton->setEnabled(modify_);
  UpdateEnablings();
}

void TUserReport::ShowFontTexts() {
  TitlesFontText->setText(FontText(def_.titles_font));
  HeaderFontText->setText(FontText(def_.header_font));
  BodyFontText->setText(FontText(def_.body_font));
  FootnoteFontText->setText(FontText(def_.footnote_font));
}

void TUserReport::ShowWidth(int width) {
  // A width none of the buttons names (a damaged record) ticks none.
  Width90->setAutoExclusive(false);
  Width120->setAutoExclusive(false);
  Width150->setAutoExclusive(false);
  Width90->setChecked(width == 90);
  Width120->setChecked(width == 120);
  Width150->setChecked(width == 150);
  Width90->setAutoExclusive(true);
  Width120->setAutoExclusive(true);
  Width150->setAutoExclusive(true);
}

void TUserReport::UpdateEnablings() {
  const bool few_lines = def_.lines < 2;
  ColumnHeaders->setEnabled(few_lines);
  HorizontalLines->setEnabled(few_lines);
  VerticalLines->setEnabled(few_lines);
  GroupLevel2->setEnabled(GroupLevel1->isChecked());
  // Pictures stand beside record lines; a report of none has nowhere to put them.
  PrintObverse->setEnabled(def_.lines >= 1);
}

// ---------------------------------------------------------------------------
// Handlers

void TUserReport::WidthClick(int width) {
  const int from = def_.width;
  if (width == from) return;
  auto ask = [this](const char* question) {
    return prompts().MessageBox(this, L(t::kWarning), L(question), MsgIcon::kWarning,
                                MsgButtons::kYesNo, MsgButton::kNo) == MsgButton::kYes;
  };
  if (width == 90) {
    if (!ask(t::kTo90Question)) {
      ShowWidth(from);
      return;
    }
    ChangeReportWidth(def_, 90);
    def_.body_font.size = BodyFontSizeForWidth(90);
  } else if (width == 120) {
    if (from == 150 && !ask(t::kTo120Question)) {
      ShowWidth(from);
      return;
    }
    ChangeReportWidth(def_, 120);
    def_.body_font.size = BodyFontSizeForWidth(120);
    prompts().Notify(this, L(t::kNotice), L(t::kTo120Notice), MsgIcon::kInformation);
  } else {
    ChangeReportWidth(def_, 150);
    def_.body_font.size = BodyFontSizeForWidth(150);
    prompts().Notify(this, L(t::kNotice), L(t::kTo150Notice), MsgIcon::kInformation);
  }
  ShowWidth(def_.width);
  ShowFontTexts();
}

std::optional<int> TUserReport::TypedLines() const {
  bool ok = false;
  const int lines = NumLines->text().trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return lines;
}

void TUserReport::NumLinesExit() {
  if (const std::optional<int> lines = TypedLines();
      lines && *lines >= 0 && *lines <= kMaxRecordLines)
    def_.lines = static_cast<int16_t>(*lines);
  UpdateEnablings();
}

void TUserReport::ReportNameExit() {
  if (!modify_) return;
  def_.name = ReportName->text().trimmed().left(30);
  DeleteButton->setEnabled(def_.name == original_name_);
}

void TUserReport::GroupLevel1Click() {
  UpdateEnablings();
}

void TUserReport::SetFontsButtonClick() {
  TReportFonts fonts(this, state_, def_);
  fonts.exec();
  ShowFontTexts();
}

bool TUserReport::CheckNumLines() {
  const std::optional<int> lines = TypedLines();
  if (!lines || *lines < 0 || *lines > kMaxRecordLines) {
    prompts().Notify(this, L(t::kNotice), L(t::kBadNumLines), MsgIcon::kInformation);
    NumLines->setFocus();
    return false;
  }
  def_.lines = static_cast<int16_t>(*lines);
  UpdateEnablings();
  return true;
}

void TUserReport::SpecifyContentButtonClick() {
  if (!CheckNumLines()) return;
  // The grid's heading shows the name as typed so far.
  def_.name = ReportName->text().trimmed().left(30);
  TRepLayout layout(this, state_, def_);
  if (layout.exec() == QDialog::Accepted) def_ = layout.definition();
}

bool TUserReport::StoreControls() {
  QLineEdit* margins[4] = {TopMargin, BottomMargin, LeftMargin, RightMargin};
  double values[4] = {};
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = margins[i]->text().trimmed().toDouble(&ok);
    if (!ok || values[i] < 0) {
      prompts().Notify(this, L(t::kError), L(t::kBadMargin), MsgIcon::kError);
      margins[i]->setFocus();
      return false;
    }
  }
  def_.top_margin = values[0];
  def_.bottom_margin = values[1];
  def_.left_margin = values[2];
  def_.right_margin = values[3];
  def_.name = ReportName->text().trimmed().left(30);
  for (size_t i = 0; i < Titles.size(); ++i) def_.titles[i] = Titles[i]->text().trimmed().left(80);
  def_.column_headers = ColumnHeaders->isChecked();
  def_.page_numbers = PageNumbers->isChecked();
  def_.landscape = PrintLandscape->isChecked();
  def_.date_on_pages = DateOnPages->isChecked();
  def_.use_totals = UseTotals->isChecked();
  def_.horizontal_lines = HorizontalLines->isChecked();
  def_.vertical_lines = VerticalLines->isChecked();
  def_.group_level1 = GroupLevel1->isChecked();
  def_.group_level2 = def_.group_level1 && GroupLevel2->isChecked();
  def_.print_obverse = PrintObverse->isChecked();
  return true;
}

void TUserReport::UpdateButtonClick() {
  if (!CheckNumLines()) return;
  if (!StoreControls()) return;
  if (const QString problem = UnstorableText(def_); !problem.isEmpty()) {
    prompts().Notify(this, L(t::kError), problem, MsgIcon::kError);
    return;
  }
  bool append = !modify_;
  if (modify_ && def_.name != original_name_) {
    const MsgButton answer =
        prompts().MessageBox(this, L(t::kConfirm), L(t::kRenamedQuestion), MsgIcon::kQuestion,
                             MsgButtons::kYesNoCancel, MsgButton::kYes);
    if (answer == MsgButton::kCancel) return;
    append = answer == MsgButton::kYes;
  }
  try {
    const int index = append ? file_.Append(def_) : (file_.Write(index_, def_), index_);
    result_ = DesignResult{true, index};
  } catch (const std::exception& e) {
    ShowIoError(e);
    return;
  }
  TellKeptAside();
  accept();
}

void TUserReport::DeleteButtonClick() {
  if (!modify_) return;
  if (prompts().MessageBox(this, L(t::kConfirm), L(t::kDeleteQuestion), MsgIcon::kQuestion,
                           MsgButtons::kYesNo, MsgButton::kNo) != MsgButton::kYes)
    return;
  try {
    file_.Delete(index_);
  } catch (const std::exception& e) {
    ShowIoError(e);
    return;
  }
  TellKeptAside();
  result_ = DesignResult{true, -1};
  accept();
}

void TUserReport::CancelButtonClick() {
  reject();
}

void TUserReport::HelpButtonClick() {
  platform::ShowHelp(this, L(t::kHelpKeyword));
}

void TUserReport::TellKeptAside() {
  if (file_.KeptAside().isEmpty()) return;
  prompts().Notify(this, L(t::kNotice), L(t::kUrpKeptAside).arg(file_.path(), file_.KeptAside()),
                   MsgIcon::kInformation);
}

void TUserReport::ShowIoError(const std::exception& e) {
  prompts().Notify(this, L(t::kError), QString::fromLocal8Bit(e.what()), MsgIcon::kError);
}

void TUserReport::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TUserReport::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::ScaleAndCentre(this, state_.scale_factor);
    SetColors();
    ReportName->setFocus();
  }
  QDialog::showEvent(event);
}

}  // namespace klv::report
