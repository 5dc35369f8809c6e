#include "appearance/View1.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>

#include "appearance/AppearanceTexts.h"
#include "appearance/GroupColors.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::appearance {
namespace {

using db::FieldTable;
using db::kFieldCount;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

using platform::L;

size_t F(int field) {
  return static_cast<size_t>(field);
}

// The sizes the font dialog's list offers; a font chosen outside them is
// brought inside, as reading the settings would.
constexpr int kMinFontSize = 6;
constexpr int kMaxFontSize = 72;
// A grid row's height at factor 1.
constexpr int kDesignRowHeight = 20;

QTableWidget* MakeGrid(QWidget* parent, const char* name, int columns, QRect place) {
  auto* grid = new QTableWidget(kFieldCount, columns, parent);
  grid->setObjectName(L(name));
  grid->setGeometry(place);
  grid->verticalHeader()->hide();
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setTabKeyNavigation(true);
  for (int r = 0; r < kFieldCount; ++r) {
    for (int c = 0; c < columns; ++c) grid->setItem(r, c, new QTableWidgetItem);
  }
  return grid;
}

void SetHeadings(QTableWidget* grid, const char* first, const char* second) {
  grid->setHorizontalHeaderLabels({L(first), L(second)});
  grid->horizontalHeader()->setHighlightSections(false);
}

// A column whose cells cannot be typed into.
void Fixed(QTableWidget* grid, int column) {
  for (int r = 0; r < grid->rowCount(); ++r) {
    QTableWidgetItem* item = grid->item(r, column);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  }
}

QString Cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

}  // namespace

TViewConfig::TViewConfig(app::AppState& state, std::function<void()> apply, QWidget* parent)
    : QDialog(parent), state_(state), apply_(std::move(apply)) {
  setObjectName(QStringLiteral("ViewConfig"));
  setWindowTitle(L(texts::kViewCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  setFont(f);
  setFixedSize(600, 430);

  MyTabbedPage = new QTabWidget(this);
  MyTabbedPage->setObjectName(QStringLiteral("MyTabbedPage"));
  MyTabbedPage->setGeometry(6, 6, 588, 380);
  auto* title = new QWidget;
  auto* look = new QWidget;
  BuildTitlePage(title);
  BuildLookPage(look);
  MyTabbedPage->addTab(title, L(texts::kPageTitle));
  MyTabbedPage->addTab(look, L(texts::kPageLook));
  BuildGridPages();

  ExitButton = new QPushButton(L(texts::kExitButton), this);
  ExitButton->setObjectName(QStringLiteral("ExitButton"));
  ExitButton->setGeometry(404, 394, 88, 27);
  connect(ExitButton, &QPushButton::clicked, this, &TViewConfig::ExitButtonClick);
  HelpButton = new QPushButton(L(texts::kHelpButton), this);
  HelpButton->setObjectName(QStringLiteral("HelpButton"));
  HelpButton->setGeometry(500, 394, 88, 27);
  connect(HelpButton, &QPushButton::clicked, this, &TViewConfig::HelpButtonClick);

  // Opening: the check boxes from the settings; the rest when shown.
  const app::Settings& s = state_.settings;
  ShowGridTitle->setChecked(s.grid_show_titles);
  ColumnLines->setChecked(s.grid_column_lines);
  RowLines->setChecked(s.grid_row_lines);
  RowIndicator->setChecked(s.grid_row_indicator);
  FieldEditing->setChecked(s.grid_field_editing);
  ObverseColumn->setChecked(s.grid_obverse_column);
  // Ticking a box changes its setting at once (toggled, not clicked, so a
  // keyboard toggle counts too).
  const std::pair<QCheckBox*, bool app::Settings::*> boxes[] = {
      {ShowGridTitle, &app::Settings::grid_show_titles},
      {ColumnLines, &app::Settings::grid_column_lines},
      {RowLines, &app::Settings::grid_row_lines},
      {RowIndicator, &app::Settings::grid_row_indicator},
      {FieldEditing, &app::Settings::grid_field_editing},
      {ObverseColumn, &app::Settings::grid_obverse_column}};
  for (const auto& [box, member] : boxes) {
    connect(box, &QCheckBox::toggled, this,
            [this, member](bool on) { state_.settings.*member = on; });
  }
}

void TViewConfig::AddHeading(QWidget* page, int i, const char* text, int y) {
  auto* label = new QLabel(L(text), page);
  label->setGeometry(16, y, 200, 18);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  MarkHeading(label);
  Headings[F(i)] = label;
}

// A font's name box with its New Font and Font Color buttons, on one row.
void TViewConfig::AddFontRow(QWidget* page, int y, FontRow row) {
  *row.edit = new QLineEdit(page);
  (*row.edit)->setObjectName(L(row.edit_name));
  (*row.edit)->setReadOnly(true);
  (*row.edit)->setGeometry(16, y + 1, 230, 24);
  *row.font = new QPushButton(L(texts::kNewFont), page);
  (*row.font)->setObjectName(L(row.font_name));
  (*row.font)->setGeometry(256, y, 96, 26);
  connect(*row.font, &QPushButton::clicked, this, row.font_click);
  *row.color = new QPushButton(L(texts::kFontColor), page);
  (*row.color)->setObjectName(L(row.color_name));
  (*row.color)->setGeometry(358, y, 96, 26);
  connect(*row.color, &QPushButton::clicked, this, row.color_click);
}

void TViewConfig::BuildTitlePage(QWidget* page) {
  const auto heading = [&](int i, const char* text, int y) { AddHeading(page, i, text, y); };
  ShowGridTitle = new QCheckBox(L(texts::kShowGridTitle), page);
  ShowGridTitle->setObjectName(QStringLiteral("ShowGridTitle"));
  ShowGridTitle->setGeometry(16, 16, 220, 22);

  heading(0, texts::kTitleFontLabel, 56);
  AddFontRow(page, 77,
             {&TitleFont, "TitleFont", &TitleFontButton, "TitleFontButton", &TitleFontColor,
              "TitleFontColor", &TViewConfig::TitleFontButtonClick,
              &TViewConfig::TitleFontColorClick});

  heading(1, texts::kBackground, 120);
  TitleShape = new QFrame(page);
  TitleShape->setObjectName(QStringLiteral("TitleShape"));
  TitleShape->setFrameShape(QFrame::Box);
  TitleShape->setGeometry(16, 142, 64, 26);
  Button1 = new QPushButton(L(texts::kNewColor), page);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(92, 142, 96, 26);
  connect(Button1, &QPushButton::clicked, this, &TViewConfig::TitleColorButtonClick);

  heading(2, texts::kAlignmentLabel, 186);
  TitleLeft = new QRadioButton(L(texts::kTitleLeft), page);
  TitleLeft->setObjectName(QStringLiteral("TitleLeft"));
  TitleLeft->setGeometry(16, 208, 120, 22);
  TitleCenter = new QRadioButton(L(texts::kTitleCenter), page);
  TitleCenter->setObjectName(QStringLiteral("TitleCenter"));
  TitleCenter->setGeometry(140, 208, 100, 22);
  TitleRight = new QRadioButton(L(texts::kTitleRight), page);
  TitleRight->setObjectName(QStringLiteral("TitleRight"));
  TitleRight->setGeometry(244, 208, 120, 22);
  int alignment = 1;
  for (QRadioButton* b : {TitleLeft, TitleCenter, TitleRight}) {
    connect(b, &QRadioButton::clicked, this, [this, alignment] { AlignmentClick(alignment); });
    ++alignment;
  }
}

void TViewConfig::BuildLookPage(QWidget* page) {
  const auto heading = [&](int i, const char* text, int y) { AddHeading(page, i, text, y); };
  heading(3, texts::kGridOptionsLabel, 12);
  auto box = [&](const char* text, const char* name, int y) {
    auto* b = new QCheckBox(L(text), page);
    b->setObjectName(L(name));
    b->setGeometry(16, y, 280, 22);
    return b;
  };
  ColumnLines = box(texts::kColumnLines, "ColumnLines", 34);
  RowLines = box(texts::kRowLines, "RowLines", 58);
  RowIndicator = box(texts::kRowIndicator, "RowIndicator", 82);
  FieldEditing = box(texts::kFieldEditing, "FieldEditing", 106);
  ObverseColumn = box(texts::kObverseColumn, "ObverseColumn", 130);

  heading(4, texts::kCellColorLabel, 166);
  CellColorShape = new QFrame(page);
  CellColorShape->setObjectName(QStringLiteral("CellColorShape"));
  CellColorShape->setFrameShape(QFrame::Box);
  CellColorShape->setGeometry(16, 188, 64, 26);
  NewColorBUtton = new QPushButton(L(texts::kNewColor), page);
  NewColorBUtton->setObjectName(QStringLiteral("NewColorBUtton"));
  NewColorBUtton->setGeometry(92, 188, 96, 26);
  connect(NewColorBUtton, &QPushButton::clicked, this, &TViewConfig::NewColorButtonClick);

  heading(5, texts::kCellFontLabel, 232);
  AddFontRow(page, 253,
             {&GridFont, "GridFont", &NewFontButton, "NewFontButton", &GridFontColor,
              "GridFontColor", &TViewConfig::NewFontButtonClick,
              &TViewConfig::GridFontColorClick});
}

void TViewConfig::BuildGridPages() {
  auto* show = new QWidget;
  ShowInstruction = new QLabel(L(texts::kShowInstruction), show);
  ShowInstruction->setObjectName(QStringLiteral("ShowInstruction"));
  ShowInstruction->setWordWrap(true);
  ShowInstruction->setGeometry(8, 6, 436, 66);
  FieldsToDisplay = MakeGrid(show, "FieldsToDisplay", 2, {8, 76, 320, 268});
  SetHeadings(FieldsToDisplay, texts::kFieldHeading, texts::kDisplayHeading);
  connect(FieldsToDisplay, &QTableWidget::cellDoubleClicked, this,
          &TViewConfig::FieldsToDisplayDblClick);
  MyTabbedPage->addTab(show, L(texts::kPageShow));

  auto* widths = new QWidget;
  FieldWidthGrid = MakeGrid(widths, "FieldWidthGrid", 2, {8, 8, 320, 336});
  SetHeadings(FieldWidthGrid, texts::kFieldHeading, texts::kWidthHeading);
  FieldWidthGrid->setEditTriggers(QAbstractItemView::DoubleClicked |
                                  QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed);
  Fixed(FieldWidthGrid, 0);
  MyTabbedPage->addTab(widths, L(texts::kPageWidths));

  auto* order = new QWidget;
  FieldOrderGrid = MakeGrid(order, "FieldOrderGrid", 1, {8, 8, 220, 336});
  FieldOrderGrid->horizontalHeader()->hide();
  Fixed(FieldOrderGrid, 0);
  OrderFieldLabel = new QLabel(L(texts::kOrderField), order);
  OrderFieldLabel->setObjectName(QStringLiteral("OrderFieldLabel"));
  OrderFieldLabel->setAlignment(Qt::AlignHCenter);
  OrderFieldLabel->setGeometry(262, 40, 96, 18);
  OrderOrderingLabel = new QLabel(L(texts::kOrderOrdering), order);
  OrderOrderingLabel->setObjectName(QStringLiteral("OrderOrderingLabel"));
  OrderOrderingLabel->setAlignment(Qt::AlignHCenter);
  OrderOrderingLabel->setGeometry(262, 58, 96, 18);
  OrderUp = new QPushButton(L(texts::kOrderUp), order);
  OrderUp->setObjectName(QStringLiteral("OrderUp"));
  OrderUp->setGeometry(266, 84, 88, 27);
  connect(OrderUp, &QPushButton::clicked, this, &TViewConfig::OrderUpClick);
  OrderDown = new QPushButton(L(texts::kOrderDown), order);
  OrderDown->setObjectName(QStringLiteral("OrderDown"));
  OrderDown->setGeometry(266, 118, 88, 27);
  connect(OrderDown, &QPushButton::clicked, this, &TViewConfig::OrderDownClick);
  OrderDefaults = new QPushButton(L(texts::kOrderDefaults), order);
  OrderDefaults->setObjectName(QStringLiteral("OrderDefaults"));
  OrderDefaults->setGeometry(266, 180, 88, 27);
  connect(OrderDefaults, &QPushButton::clicked, this, &TViewConfig::OrderDefaultsClick);
  MyTabbedPage->addTab(order, L(texts::kPageOrder));

  auto* names = new QWidget;
  FieldNameGrid = MakeGrid(names, "FieldNameGrid", 2, {8, 8, 420, 336});
  SetHeadings(FieldNameGrid, texts::kFieldHeading, texts::kNameHeading);
  FieldNameGrid->setEditTriggers(QAbstractItemView::DoubleClicked |
                                 QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
  Fixed(FieldNameGrid, 0);
  MyTabbedPage->addTab(names, L(texts::kPageNames));
}

void TViewConfig::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TViewConfig::FormShow() {
  forms::ApplyUserFonts(this, state_.fonts);
  KeepHeadingsBold(Headings);
  const double f = forms::EffectiveScaleFactor(state_.scale_factor);
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::MoveUpTenPixels(this);
  const app::Settings& s = state_.settings;
  TitleFont->setText(FontText(s.grid_title_font));
  GridFont->setText(FontText(s.grid_font));
  PaintSwatch(TitleShape, s.grid_title_background);
  PaintSwatch(CellColorShape, s.grid_cell_color);
  SelectAlignment();
  FillGrids();

  auto size_grid = [f](QTableWidget* grid, int width, std::initializer_list<int> columns) {
    grid->setFixedWidth(static_cast<int>(width * f) + 20);
    int c = 0;
    for (int w : columns) grid->setColumnWidth(c++, static_cast<int>(w * f));
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(static_cast<int>(kDesignRowHeight * f));
  };
  size_grid(FieldsToDisplay, 300, {200, 100});
  size_grid(FieldWidthGrid, 300, {200, 100});
  size_grid(FieldNameGrid, 400, {200, 200});
  size_grid(FieldOrderGrid, 200, {200});
  SetColors();
}

void TViewConfig::FillGrids() {
  const GridPages pages = FillGridPages(state_.settings);
  for (int fld = 1; fld <= kFieldCount; ++fld) {
    const int r = fld - 1;
    FieldsToDisplay->item(r, 0)->setText(pages.names[F(fld)]);
    FieldsToDisplay->item(r, 1)->setText(pages.display[F(fld)]);
    FieldWidthGrid->item(r, 0)->setText(pages.names[F(fld)]);
    FieldWidthGrid->item(r, 1)->setText(pages.widths[F(fld)]);
    FieldNameGrid->item(r, 0)->setText(
        QString::fromLatin1(FieldTable[F(fld)].name.data(), FieldTable[F(fld)].name.size()));
    FieldNameGrid->item(r, 1)->setText(pages.names[F(fld)]);
    FieldOrderGrid->item(r, 0)->setText(pages.order[F(r)]);
  }
}

void TViewConfig::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TViewConfig::PaintSwatch(QFrame* swatch, const QColor& color) {
  QPalette p = swatch->palette();
  p.setColor(QPalette::Window, color);
  swatch->setPalette(p);
  swatch->setAutoFillBackground(true);
}

void TViewConfig::ChooseFontColor(QColor& color) {
  std::optional<QColor> chosen = prompts().ChooseColor(this, color);
  if (!chosen || !chosen->isValid()) return;
  color = chosen->toRgb();
}

void TViewConfig::TitleFontColorClick() {
  ChooseFontColor(state_.settings.grid_title_font_color);
}

void TViewConfig::GridFontColorClick() {
  ChooseFontColor(state_.settings.grid_font_color);
}

void TViewConfig::SelectAlignment() {
  const int alignment = state_.settings.grid_title_alignment;
  int n = 1;
  for (QRadioButton* b : {TitleLeft, TitleCenter, TitleRight}) {
    // Exclusive buttons cannot all be cleared; a setting outside 1 to 3
    // selects none.
    b->setAutoExclusive(false);
    b->setChecked(alignment == n++);
    b->setAutoExclusive(true);
  }
}

GridPages TViewConfig::Pages() const {
  GridPages pages;
  for (int fld = 1; fld <= kFieldCount; ++fld) {
    const int r = fld - 1;
    pages.display[F(fld)] = Cell(FieldsToDisplay, r, 1);
    pages.widths[F(fld)] = Cell(FieldWidthGrid, r, 1);
    pages.names[F(fld)] = Cell(FieldNameGrid, r, 1);
    pages.order[F(r)] = Cell(FieldOrderGrid, r, 0);
  }
  return pages;
}

void TViewConfig::ChooseGridFont(QFont& font, QFont& user_font, QLineEdit* text) {
  std::optional<QFont> chosen = prompts().ChooseFont(this, font);
  if (!chosen) return;
  QFont picked = *chosen;
  const int size = picked.pointSize() > 0 ? picked.pointSize() : font.pointSize();
  picked.setPointSize(std::clamp(size, kMinFontSize, kMaxFontSize));
  font = user_font = picked;
  text->setText(FontText(picked));
}

void TViewConfig::TitleFontButtonClick() {
  ChooseGridFont(state_.settings.grid_title_font, state_.fonts.grid_title, TitleFont);
}

void TViewConfig::NewFontButtonClick() {
  ChooseGridFont(state_.settings.grid_font, state_.fonts.grid, GridFont);
}

void TViewConfig::TitleColorButtonClick() {
  std::optional<QColor> chosen = prompts().ChooseColor(this, state_.settings.grid_title_background);
  if (!chosen || !chosen->isValid()) return;
  state_.settings.grid_title_background = chosen->toRgb();
  PaintSwatch(TitleShape, state_.settings.grid_title_background);
}

void TViewConfig::NewColorButtonClick() {
  std::optional<QColor> chosen = prompts().ChooseColor(this, state_.settings.grid_cell_color);
  if (!chosen || !chosen->isValid()) return;
  state_.settings.grid_cell_color = chosen->toRgb();
  PaintSwatch(CellColorShape, state_.settings.grid_cell_color);
}

void TViewConfig::AlignmentClick(int alignment) {
  state_.settings.grid_title_alignment = alignment;
}

void TViewConfig::FieldsToDisplayDblClick(int row, int column) {
  if (column != 1 || row < 0 || row >= kFieldCount) return;
  QTableWidgetItem* item = FieldsToDisplay->item(row, 1);
  item->setText(ToggledDisplay(item->text()));
}

void TViewConfig::OrderUpClick() {
  std::array<QString, kFieldCount> order = Pages().order;
  const int row = FieldOrderGrid->currentRow();
  if (!MoveOrderRow(order, row, -1)) return;
  FieldOrderGrid->item(row, 0)->setText(order[F(row)]);
  FieldOrderGrid->item(row - 1, 0)->setText(order[F(row - 1)]);
  FieldOrderGrid->setCurrentCell(row - 1, 0);
}

void TViewConfig::OrderDownClick() {
  std::array<QString, kFieldCount> order = Pages().order;
  const int row = FieldOrderGrid->currentRow();
  if (!MoveOrderRow(order, row, +1)) return;
  FieldOrderGrid->item(row, 0)->setText(order[F(row)]);
  FieldOrderGrid->item(row + 1, 0)->setText(order[F(row + 1)]);
  FieldOrderGrid->setCurrentCell(row + 1, 0);
}

void TViewConfig::OrderDefaultsClick() {
  const MsgButton answer =
      prompts().MessageBox(this, L(texts::kReOrderCaption), L(texts::kReOrderQuestion),
                           MsgIcon::kQuestion, MsgButtons::kYesNo, MsgButton::kNo);
  if (answer != MsgButton::kYes) return;
  // The captions as the names grid had them when the dialog opened: the
  // order rows are matched against those when the dialog closes.
  const std::array<QString, kFieldCount> order = DefaultOrder(state_.settings.field_names);
  for (int r = 0; r < kFieldCount; ++r) FieldOrderGrid->item(r, 0)->setText(order[F(r)]);
}

void TViewConfig::HelpButtonClick() {
  const int page = std::clamp(MyTabbedPage->currentIndex(), 0, 5);
  platform::ShowHelp(this, L(texts::kViewHelpKeywords[page]));
}

void TViewConfig::ExitButtonClick() {
  accept();
}

void TViewConfig::done(int result) {
  if (closing_) return;
  closing_ = true;
  const bool may_close = FormClose();
  closing_ = false;
  if (may_close) QDialog::done(result);
}

bool TViewConfig::FormClose() {
  // A cell being typed in keeps its text.
  if (QWidget* focus = QApplication::focusWidget(); focus && isAncestorOf(focus))
    focus->clearFocus();
  GridPages pages = Pages();
  if (const std::optional<QString> twice = FirstDuplicateCaption(pages.names)) {
    prompts().MessageBox(this, L(texts::kErrorCaption), DuplicateCaptionMessage(*twice),
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
    MyTabbedPage->setCurrentIndex(kNamesPage);
    FieldNameGrid->setFocus();
    return false;
  }
  ApplyGridPages(pages, state_.settings);
  for (int fld = 1; fld <= kFieldCount; ++fld)
    FieldWidthGrid->item(fld - 1, 1)->setText(pages.widths[F(fld)]);
  if (apply_) apply_();
  return true;
}

void DoViewerConfig(app::AppState& state, QWidget* owner, std::function<void()> apply) {
  TViewConfig dialog(state, std::move(apply), owner);
  dialog.exec();
}

}  // namespace klv::appearance
