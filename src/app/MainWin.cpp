#include "app/MainWin.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "app/AppTexts.h"
#include "app/Icons.h"
#include "app/MainWinParts.h"
#include "db/DbTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "pictures/PictureFiles.h"
#include "pictures/PicturesTexts.h"
#include "platform/Prompts.h"

namespace klv::app {

using db::kFieldCount;

using forms::ApplyUserFonts;
using mainwin::Latin;

namespace {

constexpr int kSpeedPanelHeight = 31;
constexpr int kSpeedButtonSize = 24;
constexpr int kNavigatorHeight = 25;

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TMain::TMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Main"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  setFont(f);
  db_.SetPromptOwner(this);
  connect(&db_, &OpenDatabase::DatabaseBound, this, &TMain::ShowDatabaseName);
  connect(&db_, &OpenDatabase::SearchModeChanged, this, &TMain::SearchModeShown);
  connect(&db_, &OpenDatabase::ViewerSettingsNeeded, this, [this] {
    // SetViewerOptions reads the rows and their count again: counting once
    // more (through a search filter, a walk of the whole table) would only
    // repeat it.
    SetViewerOptions();
    CountLabel->setText(QString::number(model_->RecordCount()));
    UpdateNavigator();
  });
  connect(&db_, &OpenDatabase::EngineError, this, &TMain::ShowGeneralError);
  BuildControls();
  BuildMenus();
  UpdateCommandStates();
}

TMain::~TMain() {
  if (model_) model_->SetTable(nullptr);
  db_.Close();
}

void TMain::BuildControls() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("Client"));
  client_->setAutoFillBackground(true);
  setCentralWidget(client_);
  client_->installEventFilter(this);

  SpeedPanel = new QFrame(client_);
  SpeedPanel->setObjectName(QStringLiteral("SpeedPanel"));
  SpeedPanel->setFrameShape(QFrame::Panel);
  SpeedPanel->setFrameShadow(QFrame::Raised);
  const Command speeds[] = {kNew,     kOpen,   kAdd,       kEdit,      kCopy,        kDelete,
                            kImport,  kExport, kSearch,    kEndSearch, kLocate,      kLocateNext,
                            kReports, kViewer, kSortOrder, kColorAll,  kHelpContents};
  const char* const hints[] = {texts::kHintNew,       texts::kHintOpen,   texts::kHintAdd,
                               texts::kHintEdit,      texts::kHintCopy,   texts::kHintDelete,
                               texts::kHintImport,    texts::kHintExport, texts::kHintSearch,
                               texts::kHintEndSearch, texts::kHintLocate, texts::kHintLocateNext,
                               texts::kHintReports,   texts::kHintViewer, texts::kHintSortOrder,
                               texts::kHintColor,     texts::kHintHelp};
  const char* const names[] = {"NewSpeed",     "OpenSpeed",      "AddSpeed",    "EditSpeed",
                               "CopySpeed",    "DeleteSpeed",    "ImportSpeed", "ExportSpeed",
                               "SearchSpeed",  "EndSearchSpeed", "LocateSpeed", "LocateNextSpeed",
                               "ReportsSpeed", "ViewerSpeed",    "SortSpeed",   "ColorSpeed",
                               "HelpSpeed"};
  int x = 4;
  for (size_t i = 0; i < std::size(speeds); ++i) {
    auto* b = new QToolButton(SpeedPanel);
    b->setObjectName(Latin(names[i]));
    b->setToolTip(Latin(hints[i]));
    b->setIcon(SpeedIcon(speeds[i]));
    b->setIconSize(QSize(20, 20));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setGeometry(x, 3, kSpeedButtonSize, kNavigatorHeight);
    x += kSpeedButtonSize;
    const Command c = speeds[i];
    connect(b, &QToolButton::clicked, this, [this, c] { Trigger(c); });
    slots_[c].speed = b;
  }

  // The lettered buttons in their four frames.
  const QRect bevels[] = {{3, 4, 144, 76}, {151, 4, 78, 76}, {233, 4, 78, 76}, {315, 4, 78, 76}};
  for (int i = 0; i < 4; ++i) {
    Bevels[static_cast<size_t>(i)] = new QFrame(client_);
    Bevels[static_cast<size_t>(i)]->setObjectName(QStringLiteral("Bevel%1").arg(i + 1));
    Bevels[static_cast<size_t>(i)]->setFrameShape(QFrame::Box);
    Bevels[static_cast<size_t>(i)]->setFrameShadow(QFrame::Sunken);
    Bevels[static_cast<size_t>(i)]->setGeometry(bevels[i]);
  }
  struct Lettered {
    Command command;
    const char* text;
    const char* name;
    QRect place;
  };
  const Lettered lettered[] = {
      {kAdd, texts::kButtonAdd, "AddButton", {9, 12, 66, 26}},
      {kEdit, texts::kButtonEdit, "EditButton", {77, 12, 66, 26}},
      {kCopy, texts::kButtonCopy, "CopyButton", {9, 46, 66, 26}},
      {kDelete, texts::kButtonDelete, "DeleteButton", {77, 46, 66, 26}},
      {kSearch, texts::kButtonSearch, "SearchButton", {157, 12, 66, 26}},
      {kEndSearch, texts::kButtonEndSearch, "EndSearchButton", {157, 46, 66, 26}},
      {kReports, texts::kButtonReports, "ReportsButton", {239, 12, 66, 26}},
      {kViewer, texts::kButtonViewer, "ViewerButton", {239, 46, 66, 26}},
      {kHelpContents, texts::kButtonHelp, "HelpButton", {321, 12, 66, 26}},
      {kExit, texts::kButtonExit, "ButtonExit", {321, 46, 66, 26}},
  };
  for (const Lettered& l : lettered) {
    auto* b = new QPushButton(Latin(l.text), client_);
    b->setObjectName(Latin(l.name));
    b->setGeometry(l.place);
    const Command c = l.command;
    connect(b, &QPushButton::clicked, this, [this, c] { Trigger(c); });
    slots_[c].button = b;
  }

  NavigatorLabel = new QLabel(Latin(texts::kNavigatorLabel), client_);
  NavigatorLabel->setObjectName(QStringLiteral("NavigatorLabel"));
  NavigatorLabel->setAlignment(Qt::AlignCenter);

  ViewerBevel = new QFrame(client_);
  ViewerBevel->setObjectName(QStringLiteral("ViewerBevel"));
  ViewerBevel->setFrameShape(QFrame::Box);
  ViewerBevel->setFrameShadow(QFrame::Sunken);

  ViewerLabel = new QLabel(client_);
  ViewerLabel->setObjectName(QStringLiteral("ViewerLabel"));
  QFont big = font();
  big.setPixelSize(23);
  big.setBold(true);
  ViewerLabel->setFont(big);

  SearchOnLabel = new QLabel(Latin(texts::kSearchOn), client_);
  SearchOnLabel->setObjectName(QStringLiteral("SearchOnLabel"));
  QFont search = font();
  search.setPixelSize(18);
  search.setBold(true);
  SearchOnLabel->setFont(search);
  SearchOnLabel->setStyleSheet(QStringLiteral("color: #B00000"));
  SearchOnLabel->adjustSize();
  SearchOnLabel->hide();

  QFont small = font();
  small.setPixelSize(11);
  CountLabel = new QLabel(QStringLiteral("0"), client_);
  CountLabel->setObjectName(QStringLiteral("CountLabel"));
  CountLabel->setFont(small);
  Count2Label = new QLabel(Latin(texts::kCoins), client_);
  Count2Label->setObjectName(QStringLiteral("Count2Label"));
  Count2Label->setFont(small);

  model_ = new ViewerModel(this);
  ViewerGrid = new ViewerGridView(client_);
  ViewerGrid->setObjectName(QStringLiteral("ViewerGrid"));
  ViewerGrid->setModel(model_);
  ViewerGrid->InstallDelegate(model_);
  ViewerGrid->setShowGrid(false);
  ViewerGrid->setWordWrap(false);
  ViewerGrid->setTabKeyNavigation(true);
  ViewerGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  ViewerGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ViewerGrid->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  ViewerGrid->verticalHeader()->setFixedWidth(18);
  ViewerGrid->horizontalHeader()->setHighlightSections(false);
  ViewerGrid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  ViewerGrid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(ViewerGrid, &QAbstractItemView::doubleClicked, this, [this] {
    if (!ViewerGrid->model()->flags(ViewerGrid->currentIndex()).testFlag(Qt::ItemIsEditable) ||
        !model_->field_editing())
      Trigger(kEdit);
  });
  connect(ViewerGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { GridCurrentRowChanged(current.row()); });
  connect(model_, &ViewerModel::CursorMoved, this, [this](int row) {
    SyncGridToRow(row);
    UpdateNavigator();
  });
  connect(model_, &ViewerModel::RowsChanged, this, [this] {
    CountLabel->setText(QString::number(model_->RecordCount()));
    UpdateNavigator();
  });
  connect(model_, &ViewerModel::EngineError, this, &TMain::ShowGeneralError);
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    // A reset forgets the selection model's connection target rows only; the
    // current row is set again by whoever reloaded.
  });

  Navigator = new MyNavigator(client_);
  connect(Navigator, &MyNavigator::Clicked, this, &TMain::NavigatorClick);
}

void TMain::ApplyFormats(bool refresh) {
  const Settings& s = state_.settings;
  state_.formats = MakeNumberFormats(s, state_.intl);
  MyTable().SetTextFormat(MakeTextFormat(s.date_format, s.date_leading_zeros, state_.formats));
  for (int i = 0; i < kDateFormatCount; ++i)
    MenuDateFormats[static_cast<size_t>(i)]->setChecked(s.date_format == i + 1);
  MenuLeadingZeros->setChecked(s.date_leading_zeros);
  MenuNumericFormat[0]->setChecked(s.numeric_format == 1);
  MenuNumericFormat[1]->setChecked(s.numeric_format != 1);
  MenuCurrencyFormat[0]->setChecked(s.currency_format == 1);
  MenuCurrencyFormat[1]->setChecked(s.currency_format != 1);
  if (refresh && MyTable().IsOpen()) {
    MyTable().Refresh();
    DisplayCount();
  }
}

// ---------------------------------------------------------------------------
// Showing, activation, close

void TMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_ && created_) {
    shown_ = true;
    FormResize();
  }
}

void TMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
  if (activated_ || !created_) return;
  activated_ = true;
  // After the activation has been handled: what runs may show a modal dialog.
  QTimer::singleShot(0, this, [this] {
    if (first_activation_ && !closed_) first_activation_();
  });
}

void TMain::SetFirstActivationHandler(std::function<void()> handler) {
  first_activation_ = std::move(handler);
}

void TMain::DoFileSpecific() {
  ApplyUserFonts(this, state_.fonts);
  SetViewerOptions();
  SetColors();
  DisplayCount();
}

void TMain::closeEvent(QCloseEvent* event) {
  CloseForm();
  QMainWindow::closeEvent(event);
}

void TMain::CloseForm() {
  if (closed_ || !created_) return;
  closed_ = true;
  ViewerGrid->CommitEditor();
  if (MyTable().IsOpen() && MyTable().state() != dbf::Table::State::kBrowse) MyTable().Cancel();
  DisableEndSearch();
  WindowPlace& w = state_.settings.main_window;
  w.left = x();
  w.top = y();
  w.width = width();
  w.height = height();
  state_.settings.last_database = state_.database_name;
  StoreUserFonts(state_.settings, state_.fonts);
  Settings program = state_.settings;
  if (state_.browse_only) program.grid_field_editing = state_.saved_field_editing;
  RunCommand([&] { WriteSettings(program, kProgramSettings, state_.files, QString()); });
  RunCommand([&] { db_.WriteDatabaseSettings(state_.paths.ini); });
  model_->SetTable(nullptr);
  MyTable().Close();
  state_.report_definition.clear();
  state_.report_definition.shrink_to_fit();
}

// ---------------------------------------------------------------------------
// Layout

void TMain::SetButtonBar() {
  const int mode = std::clamp(state_.settings.button_bar, 1, 3);
  state_.settings.button_bar = mode;
  for (int i = 0; i < 3; ++i) MenuScreenAccess[static_cast<size_t>(i)]->setChecked(mode == i + 1);
  SpeedPanel->setVisible(mode == 1);
  SpeedPanel->setEnabled(mode == 1);
  for (QFrame* b : Bevels) b->setVisible(mode == 2);
  for (const Slot& s : slots_) {
    if (s.button) s.button->setVisible(mode == 2);
  }
  NavigatorLabel->setVisible(mode == 2);
  UpdateCommandStates();
  FormResize();
}

void TMain::SetButtonBarMode(int mode) {
  state_.settings.button_bar = mode;
  SetButtonBar();
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) FormResize();
  return QMainWindow::eventFilter(watched, event);
}

void TMain::FormResize() {
  if (!client_) return;
  const int cw = client_->width();
  const int ch = client_->height();
  const int mode = std::clamp(state_.settings.button_bar, 1, 3);
  struct Layout {
    int nav_left, nav_top, nav_width, search_top, count_top, coins_top, frame_top, frame_less,
        label_top, grid_top, grid_less;
  };
  const Layout layouts[3] = {
      {424, 3, 241, 44, 38, 52, 34, 37, 38, 70, 77},
      {400, 47, 221, 96, 90, 105, 86, 89, 90, 122, 129},
      {cw - 207, 8, 201, 14, 8, 23, 4, 7, 8, 40, 47},
  };
  const Layout& l = layouts[mode - 1];
  SpeedPanel->setGeometry(0, 0, cw, kSpeedPanelHeight);
  Navigator->setGeometry(l.nav_left, l.nav_top, l.nav_width, kNavigatorHeight);
  NavigatorLabel->setGeometry(l.nav_left, 20, l.nav_width, 20);
  SearchOnLabel->move(84, l.search_top);
  CountLabel->setGeometry(12, l.count_top, 66, 14);
  Count2Label->setGeometry(12, l.coins_top, 66, 14);
  ViewerBevel->setGeometry(3, l.frame_top, cw - 6, ch - l.frame_less);
  ViewerLabel->adjustSize();
  ViewerLabel->move((cw - ViewerLabel->width()) / 2, l.label_top);
  ViewerGrid->setGeometry(7, l.grid_top, cw - 14, ch - l.grid_less);
  Navigator->raise();
}

void TMain::SetColors() {
  const ColorGroup& g = state_.settings.colors[kMainColors];
  QPalette p = client_->palette();
  p.setColor(QPalette::Window, g[kMainBackground]);
  client_->setPalette(p);
  auto tint = [&](QLabel* label, const QColor& text) {
    QPalette lp = label->palette();
    lp.setColor(QPalette::Window, g[kMainBackground]);
    lp.setColor(QPalette::WindowText, text);
    label->setPalette(lp);
  };
  tint(ViewerLabel, g[kMajorTitle]);
  tint(NavigatorLabel, g[kMinorTitle]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kMain);
}

// ---------------------------------------------------------------------------
// The viewer grid

// The obverse of each row beside its fields, as small as a row is high.
void TMain::SetPictureColumn(bool on, int side) {
  if (!on) {
    model_->SetPictureColumn({}, {});
    return;
  }
  if (!thumbnails_) {
    thumbnails_ = std::make_shared<pictures::ObverseThumbnails>();
    thumbnails_->ready = [this](uint32_t recno) { model_->PictureReady(recno); };
  }
  auto thumbnails = thumbnails_;
  model_->SetPictureColumn(
      [this, thumbnails, side](uint32_t recno) {
        return thumbnails->Of(QString::fromStdString(MyTable().DbfPath()), recno, side);
      },
      platform::L(pictures::texts::kColumnCaption));
}

void TMain::SetViewerOptions() {
  const Settings& s = state_.settings;
  QHeaderView* top = ViewerGrid->horizontalHeader();
  QHeaderView* side = ViewerGrid->verticalHeader();

  // 1. Grid options.
  side->setVisible(s.grid_row_indicator);
  ViewerGrid->SetLines(s.grid_row_lines, s.grid_column_lines);
  top->setVisible(s.grid_show_titles);
  model_->SetFieldEditing(s.grid_field_editing);
  if (s.grid_field_editing) {
    ViewerGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    ViewerGrid->setEditTriggers(QAbstractItemView::SelectedClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
  } else {
    ViewerGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ViewerGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  }

  // 2. Fonts and colours.
  ViewerGrid->setFont(s.grid_font);
  QPalette gp = ViewerGrid->palette();
  gp.setColor(QPalette::Base, s.grid_cell_color);
  gp.setColor(QPalette::Text, s.grid_font_color);
  ViewerGrid->setPalette(gp);
  model_->SetCellColor(s.grid_cell_color);
  model_->SetTitleColor(s.grid_title_background);
  model_->SetTitleFont(s.grid_title_font);
  const Qt::Alignment align = s.grid_title_alignment == 1   ? Qt::AlignLeft
                              : s.grid_title_alignment == 3 ? Qt::AlignRight
                                                            : Qt::AlignHCenter;
  model_->SetTitleAlignment(align | Qt::AlignVCenter);
  top->setFont(s.grid_title_font);
  QPalette hp = top->palette();
  hp.setColor(QPalette::Button, s.grid_title_background);
  hp.setColor(QPalette::ButtonText, s.grid_title_font_color);
  hp.setColor(QPalette::Window, s.grid_title_background);
  top->setPalette(hp);
  side->setPalette(hp);
  const QFontMetrics fm(s.grid_font);
  side->setDefaultSectionSize(fm.height() + 6);
  side->setMinimumSectionSize(fm.height() + 6);

  // 3. Columns, with the table's controls quiet meanwhile.
  MyTable().DisableControls();
  std::array<int, kFieldCount + 1> order{};
  std::array<bool, kFieldCount + 1> display{};
  for (int f = 1; f <= kFieldCount; ++f) {
    order[static_cast<size_t>(f)] = s.field_order[static_cast<size_t>(f)];
    display[static_cast<size_t>(f)] = s.display_fields[static_cast<size_t>(f)];
  }
  std::vector<ViewerColumn> columns;
  for (int f : ViewerFieldOrder(order, display)) {
    columns.push_back(ViewerColumn{f, s.field_names[static_cast<size_t>(f)],
                                   s.field_width[static_cast<size_t>(f)]});
  }
  model_->SetColumns(columns);
  SetPictureColumn(s.grid_obverse_column, fm.height() + 4);
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  for (size_t c = 0; c < columns.size(); ++c) {
    ViewerGrid->setColumnWidth(static_cast<int>(c),
                               std::clamp(columns[c].width, 1, 255) * digit + 8);
  }
  if (model_->PictureColumn() >= 0)
    ViewerGrid->setColumnWidth(model_->PictureColumn(), 2 * (fm.height() + 4));
  MyTable().EnableControls();

  // 4. Show the rows again.
  if (model_->table() != &MyTable()) model_->SetTable(&MyTable());
  model_->Reload();
  SyncGridToCursor();
}

void TMain::DisplayCount() {
  model_->Reload();
  CountLabel->setText(QString::number(model_->RecordCount()));
  SyncGridToCursor();
  UpdateNavigator();
}

void TMain::ShowCurrentRow() {
  SyncGridToCursor();
  UpdateNavigator();
}

void TMain::SyncGridToCursor() {
  SyncGridToRow(model_->CursorRow());
}

void TMain::SyncGridToRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  syncing_grid_ = true;
  const int column = std::max(ViewerGrid->currentIndex().column(), 0);
  const QModelIndex index = model_->index(row, std::min(column, model_->columnCount() - 1));
  if (index.isValid()) {
    ViewerGrid->selectionModel()->setCurrentIndex(
        index,
        QItemSelectionModel::ClearAndSelect |
            (model_->field_editing() ? QItemSelectionModel::NoUpdate : QItemSelectionModel::Rows));
    ViewerGrid->scrollTo(index);
  }
  syncing_grid_ = false;
}

void TMain::GridCurrentRowChanged(int row) {
  if (syncing_grid_ || row < 0) return;
  RunCommand([&] {
    if (MyTable().state() != dbf::Table::State::kBrowse) {
      // Leaving the row being changed posts it, as moving off a row does.
      ViewerGrid->CommitEditor();
      MyTable().Post();
      DisplayCount();
      return;
    }
    model_->MoveCursorTo(row);
  });
  UpdateNavigator();
}

void TMain::UpdateNavigator() {
  Navigator->UpdateButtons(&MyTable(), model_->field_editing());
}

void TMain::NavigatorClick(int button) {
  ViewerGrid->CommitEditor();
  RunCommand([&] {
    switch (button) {
      case MyNavigator::kFirst:
        MyTable().First();
        break;
      case MyNavigator::kPrior:
        MyTable().Prior();
        break;
      case MyNavigator::kNext:
        MyTable().Next();
        break;
      case MyNavigator::kLast:
        MyTable().Last();
        break;
      case MyNavigator::kInsert:
        MyTable().Append();
        break;
      case MyNavigator::kDelete:
        DoDelete();
        break;
      case MyNavigator::kEdit:
        MyTable().Edit();
        break;
      case MyNavigator::kPost:
        MyTable().Post();
        DisplayCount();
        break;
      case MyNavigator::kCancel:
        MyTable().Cancel();
        DisplayCount();
        break;
      case MyNavigator::kRefresh:
        MyTable().Refresh();
        DisplayCount();
        break;
      default:
        break;
    }
  });
  UpdateNavigator();
}

// ---------------------------------------------------------------------------
// Search mode

void TMain::EnableEndSearch() {
  db_.SetSearchMode(true);
}

void TMain::DisableEndSearch() {
  db_.SetSearchMode(false);
}

void TMain::DoEndSearch() {
  db_.EndSearch();
}

void TMain::SearchModeShown(bool on) {
  SearchOnLabel->setVisible(on);
  UpdateCommandStates();
}

}  // namespace klv::app
