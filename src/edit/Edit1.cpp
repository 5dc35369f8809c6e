#include "edit/Edit1.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPrinter>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QStringListModel>
#include <QStyleFactory>
#include <QVBoxLayout>

#include "app/Formats.h"
#include "base/Codepage.h"
#include "db/FieldTable.h"
#include "edit/Defaults.h"
#include "edit/EditBox1.h"
#include "edit/EditTexts.h"
#include "edit/MyMisc.h"
#include "edit/RecordUpdate.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "forms/MaskedInput.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::edit {

using db::FieldTable;
using db::kComment;
using db::kCondition;
using db::kCountry;
using db::kDescriptio;
using db::kFaceValue;
using db::kFieldCount;
using db::kMarketValu;
using db::kMintMark;
using db::kMiscellane;
using db::kPremiumVal;
using db::kPurchasePr;
using db::kPurchDate;
using db::kQuantity;
using db::kTopic;
using db::kUserDef1;
using db::kUserDef2;
using db::kUserDef3;
using db::kUserDef4;
using db::kWanted;
using db::kYear;
using db::kYearApprox;
using db::ListKind;
using db::PickLists;
using db::TrimBlanks;
using forms::SetControlColors;

namespace t = edit::texts;
using app::kEditAdd;
using app::kEditChange;
using app::kEditCopy;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

using platform::L;

// Widths the snapshot keeps, in snapshot order.
constexpr std::array<int, 18> kSnapshotWidths = {20, 20, 7,  3,  30, 20, 40, 80, 110,
                                                 10, 40, 40, 40, 40, 10, 20, 20, 20};

// The form's own input limits of the number edits.
constexpr int kQuantityLimit = 5;
constexpr int kMoneyLimit = 12;
constexpr int kSavedQuantityWidth = 10;

QString FieldCaption(const app::AppState& state, int field) {
  return state.settings.field_names[static_cast<size_t>(field)];
}

// The fields whose control texts the snapshot holds, in snapshot order.
constexpr std::array<int, 18> kSnapshotFields = {
    kCountry,    kFaceValue, kYear,       kMintMark,   kCondition,  kTopic,
    kDescriptio, kComment,   kMiscellane, kPurchDate,  kUserDef1,   kUserDef2,
    kUserDef3,   kUserDef4,  kQuantity,   kPurchasePr, kMarketValu, kPremiumVal};

size_t SnapshotIndex(int field) {
  return static_cast<size_t>(std::find(kSnapshotFields.begin(), kSnapshotFields.end(), field) -
                             kSnapshotFields.begin());
}

const char* FieldName(int field) {
  return FieldTable[static_cast<size_t>(field)].name.data();
}

// The application's style with check-box indicators scaled like the rest
// of the form: the style draws them at a fixed size, which would look lost
// beside captions twice as large.
class IndicatorScaleStyle : public QProxyStyle {
 public:
  IndicatorScaleStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}
  void SetFactor(double factor) { factor_ = factor; }
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    const int value = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight)
      return static_cast<int>(std::lround(value * factor_));
    return value;
  }

 private:
  double factor_ = 1.0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Creating the form

TMyEdit::TMyEdit(dbf::Table& table, app::AppState& state, PickLists& lists, QWidget* parent)
    : QDialog(parent), table_(table), state_(state), lists_(lists) {
  setObjectName(QStringLiteral("MyEdit"));
  setWindowTitle(L(t::kEditCaption));
  // No minimize or maximize box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  BuildMenus();
  BuildControls();
  InstallFilters();

  MenuLoadWithAdd->setChecked(state_.settings.defaults.load_with_add);
  MenuLoadWithClear->setChecked(state_.settings.defaults.load_with_clear);

  if (state_.browse_only) {
    for (QAction* a : {MenuNewRecord, MenuClearRecord, MenuUpdateRecord, MenuUpdateAndExit, MenuCut,
                       MenuCopy, MenuPaste, MenuDelete, MenuLoadDefaults, MenuSaveDefaults,
                       MenuLoadWithClear, MenuLoadWithAdd})
      a->setEnabled(false);
    DefaultsMenu->menuAction()->setEnabled(false);
    for (QPushButton* b : {UpdateExitButton, UpdateButton, ClearButton}) b->setEnabled(false);
  }

  design_ = forms::SaveDimensions(this);
  lists_.SetProgramDir(state_.program_dir);
  LoadAllList();
}

TMyEdit::~TMyEdit() = default;

void TMyEdit::BuildMenus() {
  MainMenu = new QMenuBar(this);
  MainMenu->setObjectName(QStringLiteral("MainMenu"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(MainMenu);

  auto add = [this](QMenu* menu, const char* text, Qt::Key key, std::function<void()> fn) {
    QAction* a = menu->addAction(L(text));
    if (key != Qt::Key_unknown) {
      a->setShortcut(QKeySequence(Qt::CTRL | key));
      shortcut_actions_.push_back(a);
    }
    connect(a, &QAction::triggered, this, [this, fn] { Guard(fn); });
    return a;
  };
  auto call = [this](void (TMyEdit::*slot)()) { return [this, slot] { (this->*slot)(); }; };

  FileMenu = MainMenu->addMenu(L(t::kFileMenu));
  MenuNewRecord = add(FileMenu, t::kNewRecord, Qt::Key_E, call(&TMyEdit::DoNewRecord));
  MenuCopyRecord = add(FileMenu, t::kCopyRecord, Qt::Key_Y, call(&TMyEdit::DoCopyRecord));
  MenuClearRecord = add(FileMenu, t::kClearRecord, Qt::Key_L, [this] { DoClear(2); });
  MenuUpdateRecord = add(FileMenu, t::kUpdateRecord, Qt::Key_R, [this] { DoAnUpdate(); });
  MenuUpdateAndExit = add(FileMenu, t::kUpdateAndExit, Qt::Key_U, [this] { DoUpdateAndExit(); });
  MenuPrintRecord = add(FileMenu, t::kPrintRecord, Qt::Key_T, call(&TMyEdit::DoPrintRecord));
  FileMenu->addSeparator();
  MenuPreviousRecord =
      add(FileMenu, t::kPreviousRecord, Qt::Key_P, call(&TMyEdit::DoPreviousRecord));
  MenuNextRecord = add(FileMenu, t::kNextRecord, Qt::Key_N, call(&TMyEdit::DoNextRecord));
  FileMenu->addSeparator();
  MenuExit = add(FileMenu, t::kExit, Qt::Key_unknown, call(&TMyEdit::DoExit));

  EditMenu = MainMenu->addMenu(L(t::kEditMenu));
  MenuCut = add(EditMenu, t::kCut, Qt::Key_X, call(&TMyEdit::MenuCutClick));
  MenuCopy = add(EditMenu, t::kCopy, Qt::Key_C, call(&TMyEdit::MenuCopyClick));
  MenuPaste = add(EditMenu, t::kPaste, Qt::Key_V, call(&TMyEdit::MenuPasteClick));
  MenuDelete = add(EditMenu, t::kDelete, Qt::Key_D, call(&TMyEdit::MenuDeleteClick));

  DefaultsMenu = MainMenu->addMenu(L(t::kDefaultsMenu));
  MenuLoadDefaults =
      add(DefaultsMenu, t::kLoadSavedDefaults, Qt::Key_Q, call(&TMyEdit::MenuLoadDefaultsClick));
  MenuSaveDefaults = add(DefaultsMenu, t::kSaveCurrentAsDefaults, Qt::Key_S,
                         call(&TMyEdit::MenuSaveDefaultsClick));
  DefaultsMenu->addSeparator();
  MenuLoadWithClear = add(DefaultsMenu, t::kLoadDefaultsWithClear, Qt::Key_W,
                          call(&TMyEdit::MenuLoadWithClearClick));
  MenuLoadWithClear->setCheckable(true);
  MenuLoadWithAdd =
      add(DefaultsMenu, t::kLoadDefaultsWithAdd, Qt::Key_A, call(&TMyEdit::MenuLoadWithAddClick));
  MenuLoadWithAdd->setCheckable(true);

  // "&Help" is a command of the menu bar itself.
  MenuHelp = MainMenu->addAction(L(t::kHelpMenu));
  MenuHelp->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  shortcut_actions_.push_back(MenuHelp);
  addAction(MenuHelp);
  connect(MenuHelp, &QAction::triggered, this, [this] { Guard([this] { HelpClick(); }); });

  // Shortcuts work while the form is active, whichever control has the focus.
  for (QAction* a : shortcut_actions_) {
    a->setShortcutContext(Qt::WindowShortcut);
    if (a != MenuHelp) addAction(a);
  }
}

void TMyEdit::BuildControls() {
  const int top = MainMenu->sizeHint().height() + 8;
  constexpr int kStep = 27;
  constexpr int kHeight = 22;
  constexpr int kLeftLabel = 8, kLeftControl = 112, kRightLabel = 334, kRightControl = 436;
  constexpr int kLabelWidth = 102;
  auto row_y = [top](double row) { return top + static_cast<int>(row * kStep); };

  auto label = [this](QLabel*& member, const char* name, int x, int y, int w) {
    member = new QLabel(this);
    member->setObjectName(QLatin1String(name));
    member->setTextFormat(Qt::PlainText);
    member->setGeometry(x, y, w, kHeight);
    member->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  };
  auto edit = [this](QLineEdit*& member, const char* name, int max_length, int x, int y, int w) {
    member = new QLineEdit(this);
    member->setObjectName(QLatin1String(name));
    member->setMaxLength(max_length);
    member->setGeometry(x, y, w, kHeight);
  };
  auto combo = [this](QComboBox*& member, const char* name, ListKind kind, int max_length, int x,
                      int y, int w) {
    member = new QComboBox(this);
    member->setObjectName(QLatin1String(name));
    member->setEditable(true);
    // The lists grow only through Update, never by the combo box itself, and
    // typing is not completed from them: what is typed is what is stored.
    member->setInsertPolicy(QComboBox::NoInsert);
    member->setCompleter(nullptr);
    member->setModel(lists_.FormModel(kind));
    member->lineEdit()->setMaxLength(max_length);
    member->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    member->setMinimumContentsLength(4);
    member->setGeometry(x, y, w, kHeight);
    member->setEditText(QString());
  };
  auto check = [this](QCheckBox*& member, const char* name, const char* text, int x, int y, int w) {
    member = new QCheckBox(L(text), this);
    member->setObjectName(QLatin1String(name));
    member->setGeometry(x, y, w, kHeight);
  };
  auto button = [this](QPushButton*& member, const char* name, const char* text, int x, int y,
                       int w, int h) {
    member = new QPushButton(L(text), this);
    member->setObjectName(QLatin1String(name));
    member->setAutoDefault(false);
    member->setGeometry(x, y, w, h);
  };

  // Row 0: Country, Face Value.
  label(CountryLabel, "CountryLabel", kLeftLabel, row_y(0), kLabelWidth);
  combo(Country, "Country", ListKind::kCountry, 20, kLeftControl, row_y(0), 180);
  label(FaceValueLabel, "FaceValueLabel", kRightLabel, row_y(0), kLabelWidth);
  edit(FaceValue, "FaceValue", 20, kRightControl, row_y(0), 174);
  // Row 1: Year and Approx, Mint Mark.
  label(YearLabel, "YearLabel", kLeftLabel, row_y(1), kLabelWidth);
  edit(Year, "Year", 7, kLeftControl, row_y(1), 64);
  check(Approx, "Approx", t::kApprox, kLeftControl + 76, row_y(1), 120);
  label(MintMarkLabel, "MintMarkLabel", kRightLabel, row_y(1), kLabelWidth);
  edit(MintMark, "MintMark", 3, kRightControl, row_y(1), 44);
  // Row 2: Condition, Topic.
  label(ConditionLabel, "ConditionLabel", kLeftLabel, row_y(2), kLabelWidth);
  combo(Condition, "Condition", ListKind::kCondition, 30, kLeftControl, row_y(2), 212);
  label(TopicLabel, "TopicLabel", kRightLabel, row_y(2), kLabelWidth);
  combo(Topic, "Topic", ListKind::kTopic, 20, kRightControl, row_y(2), 174);
  // Rows 3 and 4: Description, Comments.
  label(DescriptionLabel, "DescriptionLabel", kLeftLabel, row_y(3), kLabelWidth);
  edit(Description, "Description", 40, kLeftControl, row_y(3), 498);
  label(CommentsLabel, "CommentsLabel", kLeftLabel, row_y(4), kLabelWidth);
  edit(Comments, "Comments", 80, kLeftControl, row_y(4), 498);
  // Row 5: purchase date with Blank Date, Wanted.
  label(PurchDateLabel, "PurchDateLabel", kLeftLabel, row_y(5), kLabelWidth);
  edit(PurchDate, "PurchDate", 10, kLeftControl, row_y(5), 96);
  PurchDate->setInputMask(QStringLiteral("00/00/0000;_"));
  forms::TakeTypedInput(PurchDate);
  button(BlankDate, "BlankDate", t::kBlankDate, kLeftControl + 104, row_y(5) - 1, 90, kHeight + 2);
  check(Wanted, "Wanted", t::kWanted, kRightControl, row_y(5), 150);
  // Row 6: Miscellaneous with Select.
  label(MiscLabel, "MiscLabel", kLeftLabel, row_y(6), kLabelWidth);
  edit(Misc, "Misc", 110, kLeftControl, row_y(6), 400);
  button(MiscSelect, "MiscSelect", t::kSelect, kLeftControl + 408, row_y(6) - 1, 90, kHeight + 2);
  // Rows 7 and 8: the user defined fields.
  for (int i = 0; i < 4; ++i) {
    const bool right = i % 2 == 1;
    const double row = 7 + i / 2;
    const std::string edit_name = "UserDef" + std::to_string(i + 1);
    const std::string label_name = edit_name + "Label";
    label(UserDefLabel[i], label_name.c_str(), right ? kRightLabel : kLeftLabel, row_y(row),
          kLabelWidth);
    edit(UserDef[i], edit_name.c_str(), 40, right ? kRightControl : kLeftControl, row_y(row),
         right ? 174 : 212);
  }
  // Rows 9 to 12: quantity and amounts with their totals.
  const double q = 9.3;
  label(QuantityLabel, "QuantityLabel", kLeftLabel, row_y(q), kLabelWidth);
  edit(Quantity, "Quantity", kQuantityLimit, kLeftControl, row_y(q), 64);
  label(TotalsLabel, "TotalsLabel", kLeftControl + 112, row_y(q), 120);
  TotalsLabel->setText(L(t::kTotals));
  TotalsLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont bold = TotalsLabel->font();
  bold.setBold(true);
  TotalsLabel->setFont(bold);
  label(PurchasePriceLabel, "PurchasePriceLabel", kLeftLabel, row_y(q + 1), kLabelWidth);
  edit(PurchasePrice, "PurchasePrice", kMoneyLimit, kLeftControl, row_y(q + 1), 104);
  label(TotalPPriceLabel, "TotalPPriceLabel", kLeftControl + 112, row_y(q + 1), 120);
  label(MarketValueLabel, "MarketValueLabel", kLeftLabel, row_y(q + 2), kLabelWidth);
  edit(MarketValue, "MarketValue", kMoneyLimit, kLeftControl, row_y(q + 2), 104);
  label(TotalMValueLabel, "TotalMValueLabel", kLeftControl + 112, row_y(q + 2), 120);
  label(PremiumValueLabel, "PremiumValueLabel", kLeftLabel, row_y(q + 3), kLabelWidth);
  edit(PremiumValue, "PremiumValue", kMoneyLimit, kLeftControl, row_y(q + 3), 104);
  label(TotalPValueLabel, "TotalPValueLabel", kLeftControl + 112, row_y(q + 3), 120);
  for (QLabel* total : {TotalPPriceLabel, TotalMValueLabel, TotalPValueLabel})
    total->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // A number edit shows what a value reformats to even when that is longer
  // than the user may type (grouping adds characters); the limit applies to
  // typing again once the text is short enough.
  for (QLineEdit* e : {Quantity, PurchasePrice, MarketValue, PremiumValue}) {
    const int limit = e == Quantity ? kQuantityLimit : kMoneyLimit;
    e->setProperty("klvLimit", limit);
    connect(e, &QLineEdit::textEdited, e, [e, limit](const QString& text) {
      if (text.size() <= limit && e->maxLength() != limit) e->setMaxLength(limit);
    });
  }

  // Buttons, right of the amounts.
  const int bx = 372, bw = 116, bh = 27, by = row_y(q) - 2;
  button(UpdateExitButton, "UpdateExitButton", t::kUpdateExitButton, bx, by, bw, bh);
  button(UpdateButton, "UpdateButton", t::kUpdateButton, bx + bw + 8, by, bw, bh);
  button(ClearButton, "ClearButton", t::kClearButton, bx, by + 36, bw, bh);
  button(CancelButton, "CancelButton", t::kExitButton, bx + bw + 8, by + 36, bw, bh);
  button(PrevButton, "PrevButton", t::kPrevButton, bx, by + 72, bw, bh);
  button(NextButton, "NextButton", t::kNextButton, bx + bw + 8, by + 72, bw, bh);

  resize(618, row_y(q + 4) + 8);

  auto on = [this](QPushButton* b, void (TMyEdit::*slot)()) {
    connect(b, &QPushButton::clicked, this,
            [this, slot] { Guard([this, slot] { (this->*slot)(); }); });
  };
  connect(UpdateExitButton, &QPushButton::clicked, this,
          [this] { Guard([this] { DoUpdateAndExit(); }); });
  connect(UpdateButton, &QPushButton::clicked, this, [this] { Guard([this] { DoAnUpdate(); }); });
  connect(ClearButton, &QPushButton::clicked, this, [this] { Guard([this] { DoClear(2); }); });
  on(CancelButton, &TMyEdit::DoExit);
  on(PrevButton, &TMyEdit::DoPreviousRecord);
  on(NextButton, &TMyEdit::DoNextRecord);
  on(BlankDate, &TMyEdit::BlankDateClick);
  on(MiscSelect, &TMyEdit::MiscSelectClick);
  connect(Wanted, &QCheckBox::clicked, this, [this] { Guard([this] { WantedClick(); }); });

  ring_ = {Country,     FaceValue,  Year,      Approx,        MintMark,    Condition,   Topic,
           Description, Comments,   PurchDate, Wanted,        Misc,        UserDef[0],  UserDef[1],
           UserDef[2],  UserDef[3], Quantity,  PurchasePrice, MarketValue, PremiumValue};
  QWidget* previous = nullptr;
  for (QWidget* w : ring_) {
    if (previous) setTabOrder(previous, w);
    previous = w;
  }
  for (QWidget* w :
       std::initializer_list<QWidget*>{UpdateExitButton, UpdateButton, ClearButton, CancelButton,
                                       PrevButton, NextButton, BlankDate, MiscSelect}) {
    setTabOrder(previous, w);
    previous = w;
  }
}

void TMyEdit::InstallFilters() {
  // The form sees every key before its controls (Enter, and the shortcuts
  // of its menus, which the edits would otherwise keep for themselves).
  for (QWidget* w : findChildren<QWidget*>()) {
    if (qobject_cast<QPushButton*>(w) != nullptr || qobject_cast<QMenuBar*>(w) != nullptr ||
        qobject_cast<QMenu*>(w) != nullptr)
      continue;
    if (w->window() != this) continue;
    w->installEventFilter(this);
  }
}

// ---------------------------------------------------------------------------
// Showing

void TMyEdit::SetSidePanel(QWidget* panel, std::function<void(uint32_t recno)> show_row) {
  const int width = 208, margin = 8;
  panel->setParent(this);
  panel->setGeometry(design_.client_size.width(), margin, width - margin,
                     design_.client_size.height() - 2 * margin);
  design_.controls.push_back({panel, panel->geometry(), false, {}});
  design_.client_size.rwidth() += width;
  resize(design_.client_size);
  show_side_row_ = std::move(show_row);
}

int TMyEdit::ShowModalFor(int edit_mode) {
  state_.edit_mode = edit_mode;
  return exec();
}

void TMyEdit::SetGeneralErrorDisplay(std::function<void(const QString&)> display) {
  general_error_ = std::move(display);
}

void TMyEdit::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) Guard([this] { FormShow(); });
  QDialog::showEvent(event);
}

void TMyEdit::FormShow() {
  // 1. Fonts and scale, from the design dimensions each time.
  forms::ApplyUserFonts(this, state_.fonts);
  QFont bold = TotalsLabel->font();
  bold.setBold(true);
  TotalsLabel->setFont(bold);
  forms::ScaleDialog(this, design_, state_.scale_factor);
  forms::MoveUpTenPixels(this);

  if (indicator_style_ == nullptr) {
    auto* style = new IndicatorScaleStyle;
    style->setParent(this);
    indicator_style_ = style;
  }
  static_cast<IndicatorScaleStyle*>(indicator_style_)
      ->SetFactor(forms::EffectiveScaleFactor(state_.scale_factor));
  for (QCheckBox* box : {Approx, Wanted}) {
    box->setStyle(indicator_style_);
    box->updateGeometry();
  }

  // 2. Captions from the field caption table.
  CountryLabel->setText(FieldCaption(state_, kCountry));
  FaceValueLabel->setText(FieldCaption(state_, kFaceValue));
  YearLabel->setText(FieldCaption(state_, kYear));
  MintMarkLabel->setText(FieldCaption(state_, kMintMark));
  ConditionLabel->setText(FieldCaption(state_, kCondition));
  TopicLabel->setText(FieldCaption(state_, kTopic));
  DescriptionLabel->setText(FieldCaption(state_, kDescriptio));
  CommentsLabel->setText(FieldCaption(state_, kComment));
  MiscLabel->setText(FieldCaption(state_, kMiscellane));
  PurchDateLabel->setText(FieldCaption(state_, kPurchDate));
  for (int i = 0; i < 4; ++i) UserDefLabel[i]->setText(FieldCaption(state_, kUserDef1 + i));
  QuantityLabel->setText(FieldCaption(state_, kQuantity));
  PurchasePriceLabel->setText(FieldCaption(state_, kPurchasePr));
  MarketValueLabel->setText(FieldCaption(state_, kMarketValu));
  PremiumValueLabel->setText(FieldCaption(state_, kPremiumVal));
  Approx->setText(FieldCaption(state_, kYearApprox));
  Wanted->setText(FieldCaption(state_, kWanted));

  // 3.
  SetColors();

  // The date control shows the separator of the date format in force.
  const QChar separator = QChar::fromLatin1(table_.text_format().date_separator);
  if (separator != date_separator_ || PurchDate->inputMask().isEmpty()) {
    date_separator_ = separator;
    const QString sep(separator);
    PurchDate->setInputMask(QStringLiteral("00") + sep + QStringLiteral("00") + sep +
                            QStringLiteral("0000;_"));
  }

  // 4. and 5.
  if (state_.edit_mode == kEditChange || state_.edit_mode == kEditCopy) {
    // Start from the row as it is stored now, which another copy of the
    // program may have changed since this one last read it.
    if (table_.IsOpen() && table_.state() == dbf::Table::State::kBrowse) table_.Refresh();
    LoadInData();
  } else {
    // Nothing loaded: Previous and Next start from the main window's row.
    loaded_recno_ = 0;
    DoClear(1);
  }
  SaveValues();
  Country->setFocus();
}

void TMyEdit::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kEditColors];
  SetControlColors(this, c[app::kMainBackground], c[app::kMinorTitle]);
  MainMenu->setPalette(QApplication::palette(MainMenu));
  for (QLabel* l : findChildren<QLabel*>()) SetControlColors(l, QColor(), c[app::kMinorTitle]);
  SetControlColors(TotalsLabel, QColor(), c[app::kMajorTitle]);
  for (QLineEdit* e :
       {FaceValue, Year, MintMark, Description, Comments, PurchDate, Misc, UserDef[0], UserDef[1],
        UserDef[2], UserDef[3], Quantity, PurchasePrice, MarketValue, PremiumValue})
    SetControlColors(e, c[app::kEditBackground], c[app::kEditText]);
  for (QComboBox* b : {Country, Condition, Topic})
    SetControlColors(b, c[app::kComboBackground], c[app::kComboText]);
  for (QCheckBox* b : {Approx, Wanted}) {
    SetControlColors(b, c[app::kCheckBackground], c[app::kCheckText]);
    // Buttons fill with their button colour; a check box takes its own.
    b->setBackgroundRole(QPalette::Window);
    b->setAutoFillBackground(true);
  }
  forms::ApplyColorGroup(this, forms::ColorGroupId::kEdit);
}

// ---------------------------------------------------------------------------
// Moving values between the row and the controls

QString TMyEdit::DateText() const {
  QString text = PurchDate->displayText();
  text.replace(u'_', u' ');
  return text;
}

void TMyEdit::SetDateText(const QString& text) {
  PurchDate->setText(TrimBlanks(text).isEmpty() ? QString() : text);
}

void TMyEdit::SetNumberText(QLineEdit* edit, const QString& text) {
  const int limit = edit->property("klvLimit").toInt();
  edit->setMaxLength(std::max<int>(limit, static_cast<int>(text.size())));
  edit->setText(text);
}

void TMyEdit::LoadInData() {
  Load(/*keep_saved_quantity=*/false);
}

void TMyEdit::Load(bool keep_saved_quantity) {
  auto text = [this](int field) {
    return QString::fromStdString(table_.FieldByName(FieldName(field)).AsString());
  };
  // 1.
  Country->setEditText(text(kCountry));
  FaceValue->setText(text(kFaceValue));
  Year->setText(text(kYear));
  MintMark->setText(text(kMintMark));
  Condition->setEditText(text(kCondition));
  Topic->setEditText(text(kTopic));
  Description->setText(text(kDescriptio));
  Comments->setText(text(kComment));
  Misc->setText(text(kMiscellane));
  for (int i = 0; i < 4; ++i) UserDef[i]->setText(text(kUserDef1 + i));
  SetDateText(text(kPurchDate));

  // 2. and 4.: numbers shown in their formats.
  const app::NumberFormats& formats = state_.formats;
  const dbf::Field& quantity = table_.FieldByName(FieldName(kQuantity));
  const QString quantity_text =
      quantity.IsNull()
          ? QString()
          : app::FormatNumber(formats, 1, 0, static_cast<double>(quantity.AsInteger()));
  SetNumberText(Quantity, quantity_text);
  if (!keep_saved_quantity) saved_quantity_ = quantity_text.left(kSavedQuantityWidth);
  const std::pair<QLineEdit*, int> money[] = {
      {PurchasePrice, kPurchasePr}, {MarketValue, kMarketValu}, {PremiumValue, kPremiumVal}};
  for (const auto& [edit, field] : money) {
    const dbf::Field& f = table_.FieldByName(FieldName(field));
    SetNumberText(edit, f.IsNull() ? QString() : app::FormatAmount(formats, 1, f.AsFloat()));
  }

  // 3. Only "Yes" ticks a box.
  Approx->setChecked(text(kYearApprox) == L(t::kYes));
  Wanted->setChecked(text(kWanted) == L(t::kYes));

  RememberRow();
  if (show_side_row_) show_side_row_(state_.edit_mode == kEditChange ? loaded_recno_ : 0);

  // 5. and 6.
  ApplyWantedRule();
  CalcTotals();
}

void TMyEdit::RememberRow() {
  loaded_recno_ = table_.RecNo();
  loaded_raw_ = ReadRowBytes(table_);
}

TMyEdit::Snapshot TMyEdit::Take() const {
  Snapshot s;
  const QString texts[18] = {Country->currentText(),
                             FaceValue->text(),
                             Year->text(),
                             MintMark->text(),
                             Condition->currentText(),
                             Topic->currentText(),
                             Description->text(),
                             Comments->text(),
                             Misc->text(),
                             DateText(),
                             UserDef[0]->text(),
                             UserDef[1]->text(),
                             UserDef[2]->text(),
                             UserDef[3]->text(),
                             Quantity->text(),
                             PurchasePrice->text(),
                             MarketValue->text(),
                             PremiumValue->text()};
  for (size_t i = 0; i < s.texts.size(); ++i) s.texts[i] = texts[i];
  s.approx = Approx->isChecked();
  s.wanted = Wanted->isChecked();
  return s;
}

void TMyEdit::SaveValues() {
  snapshot_ = Take();
  for (size_t i = 0; i < snapshot_.texts.size(); ++i)
    snapshot_.texts[i].truncate(kSnapshotWidths[i]);
}

bool TMyEdit::ValuesChanged() const {
  const Snapshot now = Take();
  if (now.approx != snapshot_.approx || now.wanted != snapshot_.wanted) return true;
  for (size_t i = 0; i < now.texts.size(); ++i)
    if (now.texts[i] != snapshot_.texts[i]) return true;
  return false;
}

app::DefaultValues TMyEdit::CurrentValues() const {
  app::DefaultValues v;
  v.country = Country->currentText();
  v.face_value = FaceValue->text();
  v.year = Year->text();
  v.mint_mark = MintMark->text();
  v.condition = Condition->currentText();
  v.topic = Topic->currentText();
  v.description = Description->text();
  v.comments = Comments->text();
  v.miscellaneous = Misc->text();
  v.purchase_date = DateText();
  for (int i = 0; i < 4; ++i) v.user_defined[static_cast<size_t>(i)] = UserDef[i]->text();
  v.quantity = Quantity->text();
  v.purchase_price = PurchasePrice->text();
  v.market_value = MarketValue->text();
  v.premium_value = PremiumValue->text();
  v.approximate_year = Approx->isChecked();
  v.wanted = Wanted->isChecked();
  return v;
}

void TMyEdit::DoClear(int kind) {
  const app::DefaultValues& d = state_.settings.defaults;
  if ((kind == 1 && d.load_with_add) || (kind == 2 && d.load_with_clear) || kind == 3) {
    Country->setEditText(d.country);
    FaceValue->setText(d.face_value);
    Year->setText(d.year);
    MintMark->setText(d.mint_mark);
    Condition->setEditText(d.condition);
    Topic->setEditText(d.topic);
    Description->setText(d.description);
    Comments->setText(d.comments);
    Misc->setText(d.miscellaneous);
    SetDateText(d.purchase_date);
    for (int i = 0; i < 4; ++i) UserDef[i]->setText(d.user_defined[static_cast<size_t>(i)]);
    SetNumberText(Quantity, d.quantity);
    saved_quantity_ = d.quantity.left(kSavedQuantityWidth);
    SetNumberText(PurchasePrice, d.purchase_price);
    SetNumberText(MarketValue, d.market_value);
    SetNumberText(PremiumValue, d.premium_value);
    Approx->setChecked(d.approximate_year);
    Wanted->setChecked(d.wanted);
  } else {
    for (QComboBox* c : {Country, Condition, Topic}) c->setEditText(QString());
    for (QLineEdit* e : {FaceValue, Year, MintMark, Description, Comments, Misc, UserDef[0],
                         UserDef[1], UserDef[2], UserDef[3]})
      e->clear();
    SetDateText(QString());
    SetNumberText(Quantity, QStringLiteral("1"));
    saved_quantity_ = QStringLiteral("1");
    for (QLineEdit* e : {PurchasePrice, MarketValue, PremiumValue})
      SetNumberText(e, QStringLiteral("0"));
    Approx->setChecked(false);
    Wanted->setChecked(false);
  }
  ApplyWantedRule();
  CalcTotals();
}

void TMyEdit::ApplyWantedRule() {
  if (Wanted->isChecked()) {
    SetNumberText(Quantity, QStringLiteral("0"));
    Quantity->setEnabled(false);
  } else {
    Quantity->setEnabled(true);
  }
}

void TMyEdit::WantedClick() {
  if (Wanted->isChecked()) {
    saved_quantity_ = Quantity->text().left(kSavedQuantityWidth);
    SetNumberText(Quantity, QStringLiteral("0"));
    Quantity->setEnabled(false);
  } else {
    Quantity->setEnabled(true);
    SetNumberText(Quantity, saved_quantity_);
  }
  CalcTotals();
}

void TMyEdit::CalcTotals() {
  const app::NumberFormats& formats = state_.formats;
  const auto quantity = app::ReadTypedWhole(formats, Quantity->text());
  const double q = quantity.valid() ? quantity.value : 0;
  const std::pair<QLineEdit*, QLabel*> rows[] = {{PurchasePrice, TotalPPriceLabel},
                                                 {MarketValue, TotalMValueLabel},
                                                 {PremiumValue, TotalPValueLabel}};
  for (const auto& [edit, total] : rows) {
    const auto price = app::ReadTypedAmount(formats, edit->text());
    const double p = price.valid() ? price.value : 0;
    total->setText(app::FormatAmount(formats, 1, q * p) + QStringLiteral(" "));
  }
}

void TMyEdit::NumberExit(QLineEdit* edit, bool money) {
  if (!TrimBlanks(edit->text()).isEmpty()) {
    // A text that does not read as a number is left as typed, for Update to
    // report; the totals count it as 0.
    if (money) {
      const auto v = app::ReadTypedAmount(state_.formats, edit->text());
      if (v.valid()) SetNumberText(edit, app::FormatAmount(state_.formats, 1, v.value));
    } else {
      const auto v = app::ReadTypedWhole(state_.formats, edit->text());
      if (v.valid()) {
        SetNumberText(edit, app::FormatNumber(state_.formats, 1, 0, v.value));
        saved_quantity_ = edit->text().left(kSavedQuantityWidth);
      }
    }
  }
  CalcTotals();
}

void TMyEdit::QuantityExit() {
  NumberExit(Quantity, false);
}
void TMyEdit::PurchasePriceExit() {
  NumberExit(PurchasePrice, true);
}
void TMyEdit::MarketValueExit() {
  NumberExit(MarketValue, true);
}
void TMyEdit::PremiumValueExit() {
  NumberExit(PremiumValue, true);
}

void TMyEdit::BlankDateClick() {
  SetDateText(QString());
}

void TMyEdit::MiscSelectClick() {
  Misc->setText(PickMiscellaneous(this, state_, Misc->text()));
}

// ---------------------------------------------------------------------------
// Update

void TMyEdit::Refuse(QWidget* control, const QString& text) {
  prompts().MessageBox(this, L(t::kCaptionError), text, MsgIcon::kError, MsgButtons::kOk,
                       MsgButton::kOk);
  if (control) control->setFocus();
}

bool TMyEdit::DoUpdate() {
  if (state_.browse_only) return false;

  // 1. to 5. The date, the amounts and the quantity; the texts must fit the
  // table's code page.
  TypedRecord typed;
  typed.date_text = DateText();
  typed.date_separator = date_separator_;
  typed.purchase_price = PurchasePrice->text();
  typed.market_value = MarketValue->text();
  typed.premium_value = PremiumValue->text();
  typed.quantity = Quantity->text();
  const std::pair<int, QWidget*> controls[] = {
      {kCountry, Country},        {kFaceValue, FaceValue}, {kYear, Year},
      {kCondition, Condition},    {kMintMark, MintMark},   {kTopic, Topic},
      {kDescriptio, Description}, {kMiscellane, Misc},     {kComment, Comments},
      {kUserDef1, UserDef[0]},    {kUserDef2, UserDef[1]}, {kUserDef3, UserDef[2]},
      {kUserDef4, UserDef[3]}};
  for (const auto& [field, control] : controls) {
    auto* combo = qobject_cast<QComboBox*>(control);
    typed.texts[static_cast<size_t>(field)] =
        combo ? combo->currentText() : static_cast<QLineEdit*>(control)->text();
  }
  typed.approx = Approx->isChecked();
  typed.wanted = Wanted->isChecked();
  const CheckedRecord record = CheckRecord(typed, state_.formats, table_);
  if (!record.ok()) {
    const struct {
      RecordFault fault;
      QWidget* control;
      const char* text;
    } refusals[] = {
        {RecordFault::kDate, PurchDate, t::kInvalidDate},
        {RecordFault::kPurchasePrice, PurchasePrice, t::kInvalidPurchasePrice},
        {RecordFault::kMarketValue, MarketValue, t::kInvalidMarketValue},
        {RecordFault::kPremiumValue, PremiumValue, t::kInvalidPremiumValue},
        {RecordFault::kQuantity, Quantity->isEnabled() ? Quantity : nullptr, t::kInvalidQuantity}};
    for (const auto& r : refusals) {
      if (r.fault == record.fault) Refuse(r.control, L(r.text));
    }
    for (const auto& [field, control] : controls) {
      if (record.fault != RecordFault::kCodePage || field != record.field) continue;
      Refuse(control, L(t::kCodePageRefused)
                          .arg(FieldCaption(state_, field),
                               QStringLiteral("\"") + record.bad + QStringLiteral("\"")));
    }
    return false;
  }

  // 6. New values join the pick lists, in the form and in the grid.
  const std::pair<ListKind, QString> picked[] = {{ListKind::kCountry, record.texts[kCountry]},
                                                 {ListKind::kTopic, record.texts[kTopic]},
                                                 {ListKind::kCondition, record.texts[kCondition]}};
  for (const auto& [kind, value] : picked) lists_.AddToList(kind, value);
  for (const auto& [kind, value] : picked) lists_.AddToListTwwDB(kind, value);

  // 7. to 12. Write the row. An empty table has no row to change: Edit then
  // begins a new one, as a table cursor does.
  const bool adding = state_.edit_mode != kEditChange || loaded_recno_ == 0;
  const Snapshot now = Take();
  FieldFlags by_user{};
  for (int n = 1; n <= kFieldCount; ++n) {
    bool changed = false;
    if (n == kYearApprox) {
      changed = now.approx != snapshot_.approx;
    } else if (n == kWanted) {
      changed = now.wanted != snapshot_.wanted;
    } else {
      const size_t i = SnapshotIndex(n);
      changed = now.texts[i] != snapshot_.texts[i];
    }
    by_user[static_cast<size_t>(n)] = changed;
  }
  bool posting = false;
  try {
    if (adding) {
      table_.Append();
    } else {
      if (!BackToLoadedRow()) {
        Refuse(nullptr, L(t::kRecordGone));
        return false;
      }
      table_.Edit();
    }
    // Decided before the first field is set, against the row as read now,
    // which holds what another copy of the program stored meanwhile.
    const FieldFlags elsewhere = adding ? FieldFlags{} : ChangedSince(table_, loaded_raw_);
    SetRecordFields(table_, record, FieldsToWrite(adding, by_user, elsewhere));
    posting = true;
    table_.Post();
  } catch (const dbf::DbfError& e) {
    // The engine keeps a row it could not post open for a retry; the form
    // retries by beginning again, so the table goes back to browsing, on the
    // row it was on.
    const bool stored = posting && table_.state() == dbf::Table::State::kBrowse;
    if (!stored && table_.IsOpen() && table_.state() != dbf::Table::State::kBrowse) {
      try {
        table_.Cancel();
      } catch (const dbf::DbfError&) {
        // The row was never written; what matters is reported below.
      }
    }
    QString message;
    if (stored) {
      // Written, but its index could not follow: the row exists now, so the
      // form goes on as after a successful update, and shows the engine's
      // own words, which say just that.
      message = QString::fromStdString(e.what());
    } else {
      switch (e.code()) {
        case dbf::ErrorCode::kRecordLocked:
          message = L(t::kRecordLocked);
          break;
        case dbf::ErrorCode::kKeyNotFound:
          message = L(t::kRecordGone);
          break;
        default:
          message = L(t::kNotSaved).arg(QString::fromStdString(e.what()));
      }
    }
    Refuse(nullptr, message);
    if (!stored) return false;
  }
  // From now on the form changes the row just written, as it is stored.
  RememberRow();
  if (show_side_row_) show_side_row_(loaded_recno_);
  state_.edit_mode = kEditChange;
  return true;
}

bool TMyEdit::DoAnUpdate() {
  if (!DoUpdate()) return false;
  Load(/*keep_saved_quantity=*/Wanted->isChecked());
  SaveValues();
  return true;
}

bool TMyEdit::DoUpdateAndExit() {
  if (!DoUpdate()) return false;
  done(QDialog::Accepted);
  return true;
}

// ---------------------------------------------------------------------------
// Leaving the record

void TMyEdit::DoExit() {
  if (!state_.browse_only && ValuesChanged()) {
    prompts().Beep();
    if (prompts().MessageBox(this, L(t::kCaptionWarning), L(t::kExitWithoutUpdating),
                             MsgIcon::kQuestion, MsgButtons::kYesNo,
                             MsgButton::kNo) != MsgButton::kYes)
      return;
  }
  done(QDialog::Rejected);
}

TMyEdit::Answer TMyEdit::AskToUpdate(const char* question) {
  prompts().Beep();
  switch (prompts().MessageBox(this, L(t::kCaptionWarning), L(question), MsgIcon::kQuestion,
                               MsgButtons::kYesNoCancel, MsgButton::kNo)) {
    case MsgButton::kYes:
      return DoAnUpdate() ? Answer::kUpdated : Answer::kStay;
    case MsgButton::kNo:
      return Answer::kSkip;
    default:
      return Answer::kStay;
  }
}

bool TMyEdit::BackToLoadedRow() {
  if (loaded_recno_ == 0 || table_.RecNo() == loaded_recno_) return true;
  // The main window's grid reads rows through the same cursor; it puts the
  // cursor back, but cannot when the row has gone meanwhile.
  return table_.GoTo(loaded_recno_);
}

void TMyEdit::Move(bool forward) {
  if (!state_.browse_only) {
    const char* question = nullptr;
    if (state_.edit_mode == kEditAdd || state_.edit_mode == kEditCopy)
      question = forward ? t::kNotUpdatedNext : t::kNotUpdatedPrevious;
    else if (ValuesChanged())
      question = forward ? t::kChangedNext : t::kChangedPrevious;
    if (question && AskToUpdate(question) == Answer::kStay) return;
  }
  if (table_.state() == dbf::Table::State::kBrowse) {
    BackToLoadedRow();
    table_.Refresh();
  }
  if (forward)
    table_.Next();
  else
    table_.Prior();
  LoadInData();
  SaveValues();
  state_.edit_mode = kEditChange;
}

void TMyEdit::DoPreviousRecord() {
  Move(false);
}

void TMyEdit::DoNextRecord() {
  Move(true);
}

void TMyEdit::DoNewRecord() {
  if (!state_.browse_only && ValuesChanged() && AskToUpdate(t::kChangedNew) == Answer::kStay)
    return;
  DoClear(1);
  state_.edit_mode = kEditAdd;
  SaveValues();
  setWindowTitle(L(t::kNewRecordCaption));
}

void TMyEdit::DoCopyRecord() {
  if (!state_.browse_only && ValuesChanged() && AskToUpdate(t::kChangedCopy) == Answer::kStay)
    return;
  state_.edit_mode = kEditAdd;
  SaveValues();
  setWindowTitle(L(t::kNewCopiedRecordCaption));
}

void TMyEdit::done(int result) {
  // Every closing, the close box included, saves the pick lists.
  SaveAllLists();
  QDialog::done(result);
}

void TMyEdit::keyPressEvent(QKeyEvent* event) {
  // Escape does not close the form: only Exit (which asks about changes),
  // Update & Exit and the close box do.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TMyEdit::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr) return QDialog::eventFilter(watched, event);
  // The line edit of a combo box counts as the combo box.
  if (auto* combo = qobject_cast<QComboBox*>(widget->parentWidget());
      combo != nullptr && combo->lineEdit() == widget)
    widget = combo;

  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) break;
      // An open drop-down list takes Enter to choose its entry.
      if (qobject_cast<QAbstractItemView*>(widget) != nullptr) break;
      auto it = std::find(ring_.begin(), ring_.end(), widget);
      if (it != ring_.end()) {
        const size_t at = static_cast<size_t>(it - ring_.begin());
        for (size_t step = 1; step < ring_.size(); ++step) {
          QWidget* next = ring_[(at + step) % ring_.size()];
          if (next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            break;
          }
        }
      }
      return true;  // swallowed in every control but the buttons
    }
    case QEvent::ShortcutOverride: {
      // The form's own shortcuts win over the edits' (Ctrl+A, Ctrl+D, ...).
      auto* key = static_cast<QKeyEvent*>(event);
      const QKeySequence pressed(key->keyCombination());
      for (QAction* a : shortcut_actions_)
        if (a->isEnabled() && a->shortcut() == pressed) return true;
      break;
    }
    case QEvent::FocusOut: {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      // Leaving means going to another control of the form, not a message
      // box or a menu taking the focus for a moment.
      if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
      if (widget == Quantity)
        Guard([this] { QuantityExit(); });
      else if (widget == PurchasePrice)
        Guard([this] { PurchasePriceExit(); });
      else if (widget == MarketValue)
        Guard([this] { MarketValueExit(); });
      else if (widget == PremiumValue)
        Guard([this] { PremiumValueExit(); });
      break;
    }
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// The Edit menu: clipboard commands on the focused plain edit or combo box.

QLineEdit* TMyEdit::FocusedPlainEdit() const {
  QWidget* focus = focusWidget();
  if (auto* combo = qobject_cast<QComboBox*>(focus)) return combo->lineEdit();
  auto* edit = qobject_cast<QLineEdit*>(focus);
  // The date control is a masked edit, not a plain one.
  if (edit == nullptr || edit == PurchDate) return nullptr;
  return edit;
}

void TMyEdit::MenuCutClick() {
  if (QLineEdit* e = FocusedPlainEdit()) e->cut();
}
void TMyEdit::MenuCopyClick() {
  if (QLineEdit* e = FocusedPlainEdit()) e->copy();
}
void TMyEdit::MenuPasteClick() {
  if (QLineEdit* e = FocusedPlainEdit()) e->paste();
}
void TMyEdit::MenuDeleteClick() {
  if (QLineEdit* e = FocusedPlainEdit(); e && e->hasSelectedText()) e->del();
}

// ---------------------------------------------------------------------------
// Defaults

void TMyEdit::MenuLoadDefaultsClick() {
  DoClear(3);
}

void TMyEdit::MenuSaveDefaultsClick() {
  try {
    SaveCurrentValuesAsDefaults(state_, CurrentValues());
  } catch (const dbf::DbfError& e) {
    ShowError(QString::fromStdString(e.what()));
  }
}

void TMyEdit::MenuLoadWithClearClick() {
  SetLoadDefaultsWithClear(state_, MenuLoadWithClear->isChecked());
}

void TMyEdit::MenuLoadWithAddClick() {
  SetLoadDefaultsWithAdd(state_, MenuLoadWithAdd->isChecked());
}

// ---------------------------------------------------------------------------
// Pick lists

void TMyEdit::SaveAllLists() {
  lists_.SaveAllLists();
}

void TMyEdit::LoadAllList() {
  lists_.SetDatabaseBase(state_.paths.base);
  lists_.LoadAllList();
}

void TMyEdit::LoadDefaultList() {
  // A new database: its own files are written by its first SaveAllLists.
  lists_.SetDatabaseBase(state_.paths.base);
  lists_.LoadDefaultList();
}

void TMyEdit::SaveDefaultLists() {
  lists_.SaveDefaultLists();
}

void TMyEdit::MenuListSaveDefaultsClick(QWidget* owner) {
  MenuSaveAsDefaultsClick(owner, lists_);
}

void TMyEdit::MenuListLoadDefaultsClick(QWidget* owner) {
  MenuLoadInDefaultsClick(owner, lists_);
}

void TMyEdit::MenuListEditClick(QWidget* owner, ListKind kind) {
  EditAList(owner, state_, lists_, kind, [this] { SaveAllLists(); });
}

// ---------------------------------------------------------------------------
// Print Record and Help

void TMyEdit::DoPrintRecord() {
  if (printing_) {
    prompts().MessageBox(this, L(t::kCaptionError), L(t::kPrintBusy), MsgIcon::kError,
                         MsgButtons::kOk, MsgButton::kOk);
    return;
  }
  QPrinter printer(QPrinter::HighResolution);
  if (!prompts().PrintDialog(this, printer)) return;

  printing_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct Restore {
    bool& printing;
    ~Restore() {
      QApplication::restoreOverrideCursor();
      printing = false;
    }
  } restore{printing_};

  // The copies are made here, one page each, so the printer makes one.
  const int copies = printer.copyCount();
  printer.setCopyCount(1);
  printer.setDocName(L(t::kTitle));
  QPainter painter;
  if (!painter.begin(&printer)) return;
  const int x = printer.width() / 17;
  const int y0 = printer.height() / 22;
  painter.setFont(QFont(L(t::kPrintFont), 10));
  const QFontMetrics metrics = painter.fontMetrics();
  const int step = static_cast<int>(
      std::lround(1.1 * metrics.boundingRect(QStringLiteral("ABCDEWjky")).height()));

  auto caption = [this](int field) {
    return (FieldCaption(state_, field) + L(t::kPrintCaptionSeparator)).left(22);
  };
  const std::pair<int, QString> lines[] = {
      {kCountry, Country->currentText()},
      {kFaceValue, FaceValue->text()},
      {kYear, Year->text()},
      {kCondition, Condition->currentText()},
      {kMintMark, MintMark->text()},
      {kPurchasePr, PurchasePrice->text()},
      {kMarketValu, MarketValue->text()},
      {kPremiumVal, PremiumValue->text()},
      {kTopic, Topic->currentText()},
      {kDescriptio, Description->text()},
      {kPurchDate, DateText()},
      {kMiscellane, Misc->text()},
      {kQuantity, Quantity->text()},
      {kComment, Comments->text()},
      {kUserDef1, UserDef[0]->text()},
      {kUserDef2, UserDef[1]->text()},
      {kUserDef3, UserDef[2]->text()},
      {kUserDef4, UserDef[3]->text()},
  };
  for (int copy = 0; copy < copies; ++copy) {
    if (copy > 0) printer.newPage();
    int k = 0;
    auto write = [&](const QString& text) {
      painter.drawText(x, y0 + k * step + metrics.ascent(), text);
      ++k;
    };
    for (const auto& [field, text] : lines) write(caption(field) + text);
    write(FieldCaption(state_, kYearApprox) + L(Approx->isChecked() ? t::kPrintYes : t::kPrintNo));
    write(FieldCaption(state_, kWanted) + L(Wanted->isChecked() ? t::kPrintYes : t::kPrintNo));
  }
  painter.end();
}

void TMyEdit::HelpClick() {
  platform::ShowHelp(this, QLatin1String(platform::help_keyword::kInputWindow));
}

// ---------------------------------------------------------------------------
// Errors

void TMyEdit::ShowError(const QString& message) {
  if (general_error_) return general_error_(message);
  prompts().MessageBox(this, L(t::kTitle), message, MsgIcon::kError, MsgButtons::kOk,
                       MsgButton::kOk);
}

void TMyEdit::Guard(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const dbf::DbfError& e) {
    ShowError(QString::fromStdString(e.what()));
  }
}

}  // namespace klv::edit
