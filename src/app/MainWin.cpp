#include "app/MainWin.h"

#include <algorithm>
#include <cstdio>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "app/AboutBox.h"
#include "app/AppTexts.h"
#include "db/DbTexts.h"
#include "platform/HelpViewer.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::app {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

constexpr int kSpeedPanelHeight = 31;
constexpr int kSpeedButtonSize = 24;
constexpr int kNavigatorHeight = 25;

QString Latin(const char* s) {
  return QString::fromLatin1(s);
}

bool HasDbfExtension(const QString& path) {
  return path.right(4).toUpper() == QLatin1String(".DBF");
}

bool HasTag(dbf::Table& table, const char* name) {
  for (const dbf::TagInfo& t : table.Tags()) {
    if (QString::fromStdString(t.name).compare(Latin(name), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

// The speed buttons' pictures, drawn here so that the program needs no image
// files and they look alike on every desktop.
QIcon SpeedIcon(TMain::Command c) {
  const int s = 20;
  QPixmap pm(s, s);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x26, 0x26, 0x26);
  const QColor paper(0xFF, 0xFF, 0xF4);
  const QColor green(0x1E, 0x8C, 0x2E);
  const QColor red(0xC8, 0x22, 0x1E);
  const QColor blue(0x22, 0x55, 0xB0);
  const QColor gold(0xD9, 0xA4, 0x1A);
  QPen pen(ink, 1.2);
  auto page = [&](QRectF r) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 4, r.top());
    path.lineTo(r.right(), r.top() + 4);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(pen);
    p.setBrush(paper);
    p.drawPath(path);
  };
  auto coin = [&](QPointF c, double r) {
    p.setPen(QPen(gold.darker(140), 1.2));
    p.setBrush(gold);
    p.drawEllipse(c, r, r);
  };
  auto magnifier = [&](QColor glass) {
    p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12.5, 12.5), QPointF(17.5, 17.5));
    p.setPen(QPen(ink, 1.4));
    p.setBrush(glass);
    p.drawEllipse(QPointF(8.5, 8.5), 5.5, 5.5);
  };
  auto plus = [&](QPointF c, QColor col) {
    p.setPen(QPen(col, 2.4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c - QPointF(4, 0), c + QPointF(4, 0));
    p.drawLine(c - QPointF(0, 4), c + QPointF(0, 4));
  };
  auto arrow = [&](QPointF from, QPointF to, QColor col) {
    p.setPen(QPen(col, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    QPointF d = to - from;
    double len = std::max(1.0, std::hypot(d.x(), d.y()));
    QPointF u = d / len, n(-u.y(), u.x());
    QPainterPath head;
    head.moveTo(to + u * 2);
    head.lineTo(to - u * 3.5 + n * 3.5);
    head.lineTo(to - u * 3.5 - n * 3.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawPath(head);
  };
  switch (c) {
    case TMain::kNew:
      page(QRectF(3.5, 1.5, 11, 16));
      plus(QPointF(14, 14), green);
      break;
    case TMain::kOpen: {
      p.setPen(pen);
      p.setBrush(gold);
      QPainterPath folder;
      folder.moveTo(1.5, 5);
      folder.lineTo(7, 5);
      folder.lineTo(8.5, 7);
      folder.lineTo(17.5, 7);
      folder.lineTo(17.5, 16.5);
      folder.lineTo(1.5, 16.5);
      folder.closeSubpath();
      p.drawPath(folder);
      p.setBrush(gold.lighter(130));
      QPainterPath flap;
      flap.moveTo(4, 9.5);
      flap.lineTo(19, 9.5);
      flap.lineTo(17.5, 16.5);
      flap.lineTo(1.5, 16.5);
      flap.closeSubpath();
      p.drawPath(flap);
      break;
    }
    case TMain::kAdd:
      coin(QPointF(8, 11), 6.5);
      plus(QPointF(15, 5), green);
      break;
    case TMain::kEdit: {
      coin(QPointF(8, 11), 6.5);
      p.setPen(QPen(blue, 2.4, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(10, 16), QPointF(18, 4));
      p.setPen(QPen(ink, 1));
      p.drawLine(QPointF(9.4, 17.6), QPointF(10.4, 16.2));
      break;
    }
    case TMain::kCopy:
      coin(QPointF(7, 8), 5.5);
      coin(QPointF(12.5, 12.5), 5.5);
      break;
    case TMain::kDelete:
      coin(QPointF(8, 11), 6.5);
      p.setPen(QPen(red, 2.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(12, 2), QPointF(18, 8));
      p.drawLine(QPointF(18, 2), QPointF(12, 8));
      break;
    case TMain::kImport:
      page(QRectF(7.5, 1.5, 10, 16));
      arrow(QPointF(1, 9.5), QPointF(10, 9.5), green);
      break;
    case TMain::kExport:
      page(QRectF(2.5, 1.5, 10, 16));
      arrow(QPointF(9, 9.5), QPointF(17, 9.5), blue);
      break;
    case TMain::kSearch:
      magnifier(QColor(0xD8, 0xE8, 0xFF));
      break;
    case TMain::kEndSearch:
      magnifier(QColor(0xD8, 0xE8, 0xFF));
      p.setPen(QPen(red, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(3, 17), QPointF(17, 3));
      break;
    case TMain::kLocate:
    case TMain::kLocateNext:
      p.setPen(QPen(ink, 1.4));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(9, 10), 6.5, 6.5);
      p.drawEllipse(QPointF(9, 10), 3, 3);
      p.drawLine(QPointF(9, 1.5), QPointF(9, 5));
      p.drawLine(QPointF(9, 15), QPointF(9, 18.5));
      p.drawLine(QPointF(0.5, 10), QPointF(4, 10));
      p.drawLine(QPointF(14, 10), QPointF(17.5, 10));
      if (c == TMain::kLocateNext) arrow(QPointF(11, 17), QPointF(18, 17), green);
      break;
    case TMain::kReports:
      page(QRectF(3.5, 1.5, 13, 17));
      p.setPen(QPen(ink, 1));
      for (int i = 0; i < 5; ++i) p.drawLine(QPointF(6, 6.5 + 2.5 * i), QPointF(14, 6.5 + 2.5 * i));
      break;
    case TMain::kViewer:
      p.setPen(pen);
      p.setBrush(paper);
      p.drawRect(QRectF(1.5, 3.5, 17, 13));
      p.setBrush(QColor(0x82, 0x82, 0x82));
      p.drawRect(QRectF(1.5, 3.5, 17, 3.5));
      p.drawLine(QPointF(7.5, 3.5), QPointF(7.5, 16.5));
      p.drawLine(QPointF(13, 3.5), QPointF(13, 16.5));
      p.drawLine(QPointF(1.5, 10.5), QPointF(18.5, 10.5));
      break;
    case TMain::kSortOrder: {
      QFont f(QStringLiteral("Arial"));
      f.setPixelSize(8);
      f.setBold(true);
      p.setFont(f);
      p.setPen(ink);
      p.drawText(QRectF(0, 0, 11, 10), Qt::AlignCenter, QStringLiteral("A"));
      p.drawText(QRectF(0, 10, 11, 10), Qt::AlignCenter, QStringLiteral("Z"));
      arrow(QPointF(15, 2), QPointF(15, 16), blue);
      break;
    }
    case TMain::kColorAll: {
      p.setPen(pen);
      p.setBrush(QColor(0xF0, 0xE0, 0xC0));
      p.drawEllipse(QRectF(1.5, 2.5, 17, 15));
      const QColor dots[] = {red, green, blue, gold};
      const QPointF at[] = {{6, 7}, {11, 5.5}, {14.5, 9.5}, {7, 12.5}};
      p.setPen(Qt::NoPen);
      for (int i = 0; i < 4; ++i) {
        p.setBrush(dots[i]);
        p.drawEllipse(at[i], 2, 2);
      }
      break;
    }
    case TMain::kHelpContents: {
      p.setPen(QPen(blue.darker(120), 1.2));
      p.setBrush(blue);
      p.drawEllipse(QPointF(10, 10), 8.5, 8.5);
      QFont f(QStringLiteral("Arial"));
      f.setPixelSize(13);
      f.setBold(true);
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    default:
      break;
  }
  return QIcon(pm);
}

}  // namespace

// ---------------------------------------------------------------------------
// Command line

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a.toUpper() == Latin(texts::kBrowseSwitch) || a == QLatin1String("--browse")) {
      line.browse = true;
    } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      line.help = true;
    } else if (a == QLatin1String("--version")) {
      line.version = true;
    } else if (a.startsWith(QLatin1String("--")) ||
               (a.startsWith('/') && a.size() > 1 && !a.mid(1).contains('/') &&
                !QFileInfo::exists(a))) {
      // A switch we do not know (a path like "/x.dbf" that exists is a file).
      line.error = a;
    } else if (line.database.isEmpty()) {
      line.database = a;
    } else {
      line.error = a;
    }
  }
  return line;
}

// ---------------------------------------------------------------------------
// ViewerGridView

void ViewerGridView::CommitEditor() {
  if (state() != QAbstractItemView::EditingState) return;
  QWidget* editor = indexWidget(currentIndex());
  if (!editor) return;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void ViewerGridView::SetLines(bool rows, bool columns) {
  row_lines_ = rows;
  column_lines_ = columns;
  viewport()->update();
}

namespace {

// Paints the cells, then the row and column lines the grid options ask for
// (the view's own grid draws both or neither).
class GridDelegate : public ViewerDelegate {
 public:
  GridDelegate(ViewerModel* model, ViewerGridView* view)
      : ViewerDelegate(model, view), view_(view) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    ViewerDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(QColor(0x80, 0x80, 0x80));
    const QRect r = option.rect;
    if (view_->row_lines()) painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (view_->column_lines()) painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }

 private:
  ViewerGridView* view_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TMain::TMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Main"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  setFont(f);
  BuildControls();
  BuildMenus();
  UpdateCommandStates();
}

TMain::~TMain() {
  if (model_) model_->SetTable(nullptr);
  my_table_.Close();
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
  ViewerGrid->setItemDelegate(new GridDelegate(model_, ViewerGrid));
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

void TMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  auto add = [this](QMenu* menu, Command c, const char* text, QKeySequence key = {},
                    bool browse_locked = false) {
    QAction* a = menu->addAction(Latin(text));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, [this, c] { Trigger(c); });
    slots_[c].action = a;
    slots_[c].browse_locked = browse_locked;
    return a;
  };
  const auto ctrl = [](int key) { return QKeySequence(Qt::CTRL | key); };
  const auto shift = [](int key) { return QKeySequence(Qt::SHIFT | key); };

  QMenu* file = bar->addMenu(Latin(texts::kMenuFile));
  add(file, kNew, texts::kMenuNew, ctrl(Qt::Key_W));
  add(file, kOpen, texts::kMenuOpen, ctrl(Qt::Key_O));
  add(file, kUpdate, texts::kMenuUpdate, ctrl(Qt::Key_Z));
  add(file, kBackup, texts::kMenuBackup, ctrl(Qt::Key_B), true);
  add(file, kRestore, texts::kMenuRestore, ctrl(Qt::Key_Y), true);
  add(file, kPrint, texts::kMenuPrint, ctrl(Qt::Key_P));
  add(file, kExit, texts::kMenuExit, ctrl(Qt::Key_X));
  MenuLastFilesSeparator = file->addSeparator();
  for (int i = 0; i < 5; ++i) {
    QAction* a = file->addAction(QStringLiteral("&%1").arg(i + 1));
    connect(a, &QAction::triggered, this, [this, i] {
      const QString path = state_.settings.last_files[static_cast<size_t>(i)];
      RunCommand([&] { OpenSaveFile(path); });
    });
    MenuLastFiles[static_cast<size_t>(i)] = a;
  }

  QMenu* records = bar->addMenu(Latin(texts::kMenuRecords));
  add(records, kAdd, texts::kMenuAdd, ctrl(Qt::Key_A), true);
  add(records, kEdit, texts::kMenuEdit, ctrl(Qt::Key_E));
  add(records, kCopy, texts::kMenuCopy, ctrl(Qt::Key_C), true);
  add(records, kDelete, texts::kMenuDelete, ctrl(Qt::Key_D), true);
  add(records, kImport, texts::kMenuImport, ctrl(Qt::Key_M), true);
  add(records, kExport, texts::kMenuExport, ctrl(Qt::Key_T));

  QMenu* navigate = bar->addMenu(Latin(texts::kMenuNavigate));
  add(navigate, kSearch, texts::kMenuSearch, ctrl(Qt::Key_S));
  add(navigate, kEndSearch, texts::kMenuEndSearch, ctrl(Qt::Key_I));
  add(navigate, kLocate, texts::kMenuLocate, ctrl(Qt::Key_L));
  add(navigate, kLocateNext, texts::kMenuLocateNext, ctrl(Qt::Key_N));
  add(navigate, kReports, texts::kMenuReports, ctrl(Qt::Key_R));
  add(navigate, kViewer, texts::kMenuViewer, ctrl(Qt::Key_V), true);

  QMenu* options = bar->addMenu(Latin(texts::kMenuOptions));
  add(options, kSortOrder, texts::kMenuSortOrder, ctrl(Qt::Key_Q));

  QMenu* sizes = options->addMenu(Latin(texts::kMenuScreenSize));
  auto* size_group = new QActionGroup(this);
  for (int i = 0; i < 4; ++i) {
    QAction* a = sizes->addAction(Latin(texts::kMenuScreenSizes[i]));
    a->setCheckable(true);
    a->setShortcut(shift(Qt::Key_F1 + i));
    size_group->addAction(a);
    const int setting = kScreenSizes[static_cast<size_t>(i)].setting;
    connect(a, &QAction::triggered, this,
            [this, setting] { RunCommand([&] { SetScreenSize(setting); }); });
    MenuScreenSizes[static_cast<size_t>(i)] = a;
  }
  // Ticks are set by the code alone: a refused size must stay unticked.
  size_group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);

  QMenu* access = options->addMenu(Latin(texts::kMenuScreenAccess));
  const char* const access_texts[] = {texts::kMenuSpeedButtons, texts::kMenuLetteredButtons,
                                      texts::kMenuNoButtons};
  for (int i = 0; i < 3; ++i) {
    QAction* a = access->addAction(Latin(access_texts[i]));
    a->setCheckable(true);
    a->setShortcut(ctrl(Qt::Key_F1 + i));
    connect(a, &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetButtonBarMode(i + 1); }); });
    MenuScreenAccess[static_cast<size_t>(i)] = a;
  }

  MenuColor = options->addMenu(Latin(texts::kMenuColor));
  for (int i = 0; i < 6; ++i) {
    add(MenuColor, static_cast<Command>(kColorMain + i), texts::kMenuColors[i],
        ctrl(Qt::Key_F4 + i));
  }

  MenuListMaintenance = options->addMenu(Latin(texts::kMenuListMaintenance));
  for (int i = 0; i < 6; ++i) {
    add(MenuListMaintenance, static_cast<Command>(kListSaveDefaults + i), texts::kMenuLists[i], {},
        true);
  }

  QMenu* currency = options->addMenu(Latin(texts::kMenuCurrencyFormat));
  MenuCurrencyFormat[0] = currency->addAction(Latin(texts::kMenuUSDollars));
  MenuCurrencyFormat[1] = currency->addAction(Latin(texts::kMenuWindowsSetting));
  QMenu* numeric = options->addMenu(Latin(texts::kMenuNumericFormat));
  MenuNumericFormat[0] = numeric->addAction(Latin(texts::kMenuUSFormat));
  MenuNumericFormat[1] = numeric->addAction(Latin(texts::kMenuWindowsSetting));
  for (int i = 0; i < 2; ++i) {
    MenuCurrencyFormat[static_cast<size_t>(i)]->setCheckable(true);
    MenuNumericFormat[static_cast<size_t>(i)]->setCheckable(true);
    connect(MenuCurrencyFormat[static_cast<size_t>(i)], &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetCurrencyFormat(i + 1); }); });
    connect(MenuNumericFormat[static_cast<size_t>(i)], &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetNumericFormat(i + 1); }); });
  }

  QMenu* dates = options->addMenu(Latin(texts::kMenuDateFormat));
  MenuLeadingZeros = dates->addAction(Latin(texts::kMenuLeadingZeros));
  MenuLeadingZeros->setCheckable(true);
  connect(MenuLeadingZeros, &QAction::triggered, this,
          [this] { RunCommand([&] { ToggleLeadingZeros(); }); });
  dates->addSeparator();
  for (int i = 0; i < kDateFormatCount; ++i) {
    QAction* a = dates->addAction(DateFormatItem(i + 1));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, i] { RunCommand([&] { SetDateFormat(i + 1); }); });
    MenuDateFormats[static_cast<size_t>(i)] = a;
  }

  const char* const font_texts[] = {texts::kMenuLabelFont, texts::kMenuEditFont,
                                    texts::kMenuButtonFont};
  for (int i = 0; i < 3; ++i) {
    QAction* a = options->addAction(Latin(font_texts[i]));
    a->setShortcut(shift(Qt::Key_F8 + i));
    connect(a, &QAction::triggered, this, [this, i] { RunCommand([&] { ChooseUserFont(i); }); });
    MenuFonts[static_cast<size_t>(i)] = a;
  }

  QMenu* tools = bar->addMenu(Latin(texts::kMenuTools));
  add(tools, kSearchReplace, texts::kMenuSearchReplace, ctrl(Qt::Key_F), true);
  add(tools, kRebuildIndexes, texts::kMenuRebuild);
  add(tools, kPackDatabase, texts::kMenuPack);

  QMenu* help = bar->addMenu(Latin(texts::kMenuHelp));
  add(help, kHelpContents, texts::kMenuContents, ctrl(Qt::Key_H));
  add(help, kReviewTips, texts::kMenuTips);
  add(help, kAbout, texts::kMenuAbout);

  // What this window does itself; the other commands belong to forms that
  // register their handlers when they exist.
  slots_[kNew].handler = [this] { DoNew(); };
  slots_[kOpen].handler = [this] { DoOpen(); };
  slots_[kUpdate].handler = [this] { DoUpdate(); };
  slots_[kExit].handler = [this] { close(); };
  slots_[kDelete].handler = [this] { DoDelete(); };
  slots_[kEndSearch].handler = [this] { DoEndSearch(); };
  slots_[kHelpContents].handler = [this] { DoHelpContents(); };
  slots_[kAbout].handler = [this] { DoAbout(); };
}

void TMain::SetCommandHandler(Command command, std::function<void()> handler) {
  slots_[command].handler = std::move(handler);
  UpdateCommandStates();
}

bool TMain::CommandAvailable(Command command) const {
  // Print under File is the Reports command by another name.
  if (command == kPrint) return CommandAvailable(kReports);
  const Slot& s = slots_[command];
  if (!s.handler) return false;
  if (state_.browse_only && s.browse_locked) return false;
  if (command == kEndSearch && !state_.searching) return false;
  return true;
}

void TMain::Trigger(Command command) {
  if (command == kPrint) command = kReports;
  if (!CommandAvailable(command)) return;
  // The handler may replace itself (a form registering another); run a copy.
  std::function<void()> handler = slots_[command].handler;
  RunCommand(handler);
}

void TMain::UpdateCommandStates() {
  const int mode = state_.settings.button_bar;
  for (int c = 0; c < kCommandCount; ++c) {
    const bool on = CommandAvailable(static_cast<Command>(c));
    Slot& s = slots_[static_cast<size_t>(c)];
    if (s.action) s.action->setEnabled(on);
    if (s.speed) s.speed->setEnabled(on);
    if (s.button) s.button->setEnabled(on && mode == 2);
  }
  // Browse-only mode closes the whole list maintenance menu.
  if (MenuListMaintenance) MenuListMaintenance->menuAction()->setEnabled(!state_.browse_only);
}

bool TMain::RunCommand(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const dbf::DbfError& e) {
    ShowGeneralError(QString::fromStdString(e.what()));
  } catch (const std::exception& e) {
    ShowGeneralError(QString::fromLocal8Bit(e.what()));
  }
  UpdateNavigator();
  return false;
}

void TMain::ShowGeneralError(const QString& message) {
  prompts().MessageBox(this, Latin(texts::kGeneralErrorCaption), message, MsgIcon::kError,
                       MsgButtons::kOk, MsgButton::kOk);
}

// ---------------------------------------------------------------------------
// Start-up

bool TMain::FormCreate(const StartOptions& options) {
  const CommandLine line = ParseCommandLine(options.arguments);

  // 1.
  state_.report_definition.assign(kReportDefinitionSize, 0);
  DisableEndSearch();
  setWindowTitle(Latin(klv::texts::kTitle));
  ViewerLabel->setText(Latin(texts::kViewerLabel));
  ViewerLabel->adjustSize();

  // 2.
  const platform::Directories dirs = platform::LocateDirectories();
  state_.program_dir = dirs.program;
  state_.start_dir = dirs.start;
  state_.windows_dir = dirs.windows;
  state_.files.program_ini = ProgramSettingsPath(dirs.windows);
  state_.files.start_dir = dirs.start;

  // 5. (the user fonts of step 3 come with the settings)
  ReadSettings(state_.settings, kProgramSettings, state_.files, QString());
  const WindowPlace& w = state_.settings.main_window;
  move(w.left, w.top);
  resize(std::max(w.width, 100), std::max(w.height, 100));

  // 6. The formats need the international settings of step 11; read them first.
  state_.intl = platform::ReadIntlSettings(dirs.windows);
  ApplyFormats(/*refresh=*/false);

  // 7. and 8.
  const QString chosen = ChooseStartDatabase(line);
  if (chosen.isEmpty()) return false;
  bool opened = false;
  QString candidate = chosen;
  while (!opened) {
    opened = RunCommand([&] {
      BindDatabase(candidate);
      ReadDatabaseSettings(state_.paths.ini);
      BuildSortString();
      OpenMyTable(IndexSetup::kSelectOrAdd);
    });
    if (!opened) {
      my_table_.Close();
      candidate = AskForValidDatabase();
      if (candidate.isEmpty()) return false;
    }
  }

  // 9. and 10.
  if (options.screen) {
    state_.screen_width = options.screen->width();
    state_.screen_height = options.screen->height();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    state_.screen_width = screen->geometry().width();
    state_.screen_height = screen->geometry().height();
  }
  const ScreenSize& size =
      ScreenSizeInForce(state_.settings.window_size, state_.screen_width, state_.screen_height);
  state_.settings.window_size = size.setting;
  state_.scale_factor = size.factor;
  for (size_t i = 0; i < MenuScreenSizes.size(); ++i)
    MenuScreenSizes[i]->setChecked(kScreenSizes[i].setting == size.setting);

  // 12.
  SetMenuLastFiles();

  // 15.
  if (line.browse) {
    state_.browse_only = true;
    state_.saved_field_editing = state_.settings.grid_field_editing;
    state_.settings.grid_field_editing = false;
    Navigator->SetReduced(true);
  }
  SetButtonBar();
  created_ = true;
  if (model_->table() != &my_table_) model_->SetTable(&my_table_);
  DoFileSpecific();
  return true;
}

QString TMain::ChooseStartDatabase(const CommandLine& line) {
  const QString master = state_.program_dir + '/' + Latin(texts::kDefaultDatabase);
  QString path = line.database.isEmpty() ? state_.settings.last_database : line.database;
  const bool from_ini = line.database.isEmpty();
  if (path.isEmpty() || !QFileInfo(path).isFile()) {
    if (!from_ini && !path.isEmpty()) {
      std::fprintf(stderr, "klvcoin: %s does not exist; opening the default database\n",
                   qPrintable(path));
    }
    path = master;
    if (!QFileInfo(path).isFile() && !CreateDefaultDatabase(path)) return {};
  }
  if (IsValidDatabase(path)) return path;
  if (from_ini) {
    prompts().MessageBox(this, Latin(klv::texts::kCaptionError), Latin(texts::kLastDatabaseInvalid),
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
  }
  return AskForValidDatabase();
}

bool TMain::CreateDefaultDatabase(const QString& path) {
  QString reason;
  bool made = false;
  if (!platform::EnsureDirectory(state_.program_dir, &reason)) {
    made = false;
  } else {
    try {
      made = MakeNewDB(path);
      if (!made) reason = Latin(texts::kCannotStart);
    } catch (const dbf::DbfError& e) {
      reason = QString::fromStdString(e.what());
    }
  }
  if (!made) {
    prompts().MessageBox(
        this, Latin(klv::texts::kCaptionError),
        Latin(texts::kCannotCreateDefault1) + path + Latin(texts::kCannotCreateDefault2) + reason,
        MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
  }
  return made;
}

bool TMain::IsValidDatabase(const QString& path) {
  bool valid = false;
  RunCommand([&] { valid = CheckDBaseFormat(this, path); });
  return valid;
}

// The open dialog again and again until the user picks a collection
// database. Cancelling falls back to the default database, so that a user
// who has none to offer still gets a window; when even that cannot be used
// the program gives up.
QString TMain::AskForValidDatabase() {
  const QString master = state_.program_dir + '/' + Latin(texts::kDefaultDatabase);
  for (;;) {
    platform::FileDialogRequest request = DatabaseDialog(texts::kOpenDialogTitle);
    request.file_must_exist = true;
    const QString path = prompts().OpenFile(this, request);
    if (path.isEmpty()) {
      if (!QFileInfo(master).isFile() && !CreateDefaultDatabase(master)) return {};
      if (IsValidDatabase(master)) return master;
      prompts().MessageBox(this, Latin(klv::texts::kCaptionError), Latin(texts::kCannotStart),
                           MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
      return {};
    }
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::texts::kCaptionError),
                           Latin(klv::texts::kInvalidFileType), MsgIcon::kError, MsgButtons::kOk,
                           MsgButton::kOk);
      continue;
    }
    if (IsValidDatabase(path)) return path;
  }
}

platform::FileDialogRequest TMain::DatabaseDialog(const char* title) const {
  platform::FileDialogRequest r;
  r.title = Latin(title);
  r.directory = state_.paths.dir.isEmpty() ? state_.program_dir : state_.paths.dir;
  r.filter = Latin(texts::kDatabaseFilter);
  r.default_suffix = Latin(texts::kDatabaseSuffix);
  return r;
}

void TMain::BindDatabase(const QString& name) {
  state_.database_name = name;
  state_.settings.last_database = name;
  state_.paths = DatabasePaths::From(name);
  my_table_.Close();
  my_table_.SetDirectory(state_.paths.dir.toStdString());
  my_table_.SetTableName(QFileInfo(state_.paths.dbf).fileName().toStdString());
  setWindowTitle(Latin(klv::texts::kTitle) + QStringLiteral(" (") + state_.paths.table_name +
                 QStringLiteral(")"));
}

void TMain::ReadDatabaseSettings(const QString& ini) {
  ReadSettings(state_.settings, kDatabaseSettings, state_.files, ini);
  if (state_.browse_only) {
    // The stored value is kept for writing; the grid stays read-only.
    state_.saved_field_editing = state_.settings.grid_field_editing;
    state_.settings.grid_field_editing = false;
  }
  state_.fonts = UserFontsOf(state_.settings);
}

void TMain::WriteDatabaseSettings(const QString& ini) {
  StoreUserFonts(state_.settings, state_.fonts);
  if (!state_.browse_only)
    return WriteSettings(state_.settings, kDatabaseSettings, state_.files, ini);
  Settings stored = state_.settings;
  stored.grid_field_editing = state_.saved_field_editing;
  WriteSettings(stored, kDatabaseSettings, state_.files, ini);
}

void TMain::OpenMyTable(IndexSetup setup) {
  my_table_.Close();
  my_table_.SetExclusive(false);
  my_table_.SetReadOnly(false);
  my_table_.SetRepairIndex(true);
  my_table_.Open();
  if (sort_string_.isEmpty()) {
    my_table_.SetIndexName("");
  } else {
    const std::string expr = sort_string_.toStdString();
    const bool has = HasTag(my_table_, texts::kIndexTag);
    if (setup == IndexSetup::kRebuild) {
      if (has) {
        my_table_.SetIndexName("");
        my_table_.DeleteIndex(texts::kIndexTag);
      }
      my_table_.AddIndex(texts::kIndexTag, expr);
    } else if (setup == IndexSetup::kSelectOrAdd && !has) {
      // An index file without the tag (made by another program, or a tag
      // lost to damage): add it rather than fail to select it.
      my_table_.AddIndex(texts::kIndexTag, expr);
    }
    // In use elsewhere and without the tag: record order, rather than fail.
    my_table_.SetIndexName(HasTag(my_table_, texts::kIndexTag) ? texts::kIndexTag : "");
  }
  my_table_.SetFiltered(state_.searching);
  my_table_.First();
}

void TMain::ReopenMyTable() {
  const uint32_t recno = my_table_.RecNo();
  OpenMyTable(IndexSetup::kKeep);
  if (recno != 0 && !my_table_.GoTo(recno)) my_table_.First();
}

void TMain::ApplyFormats(bool refresh) {
  const Settings& s = state_.settings;
  state_.formats = MakeNumberFormats(s, state_.intl);
  my_table_.SetTextFormat(MakeTextFormat(s.date_format, s.date_leading_zeros, state_.formats));
  for (int i = 0; i < kDateFormatCount; ++i)
    MenuDateFormats[static_cast<size_t>(i)]->setChecked(s.date_format == i + 1);
  MenuLeadingZeros->setChecked(s.date_leading_zeros);
  MenuNumericFormat[0]->setChecked(s.numeric_format == 1);
  MenuNumericFormat[1]->setChecked(s.numeric_format != 1);
  MenuCurrencyFormat[0]->setChecked(s.currency_format == 1);
  MenuCurrencyFormat[1]->setChecked(s.currency_format != 1);
  if (refresh && my_table_.IsOpen()) {
    my_table_.Refresh();
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
  if (my_table_.IsOpen() && my_table_.state() != dbf::Table::State::kBrowse) my_table_.Cancel();
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
  RunCommand([&] { WriteDatabaseSettings(state_.paths.ini); });
  model_->SetTable(nullptr);
  my_table_.Close();
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
}

// ---------------------------------------------------------------------------
// The viewer grid

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
  my_table_.DisableControls();
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
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  for (size_t c = 0; c < columns.size(); ++c) {
    ViewerGrid->setColumnWidth(static_cast<int>(c),
                               std::clamp(columns[c].width, 1, 255) * digit + 8);
  }
  my_table_.EnableControls();

  // 4. Show the rows again.
  if (model_->table() != &my_table_) model_->SetTable(&my_table_);
  model_->Reload();
  SyncGridToCursor();
}

void TMain::DisplayCount() {
  model_->Reload();
  CountLabel->setText(QString::number(model_->RecordCount()));
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
    if (my_table_.state() != dbf::Table::State::kBrowse) {
      // Leaving the row being changed posts it, as moving off a row does.
      ViewerGrid->CommitEditor();
      my_table_.Post();
      DisplayCount();
      return;
    }
    model_->MoveCursorTo(row);
  });
  UpdateNavigator();
}

void TMain::UpdateNavigator() {
  Navigator->UpdateButtons(&my_table_, model_->field_editing());
}

void TMain::NavigatorClick(int button) {
  ViewerGrid->CommitEditor();
  RunCommand([&] {
    switch (button) {
      case MyNavigator::kFirst:
        my_table_.First();
        break;
      case MyNavigator::kPrior:
        my_table_.Prior();
        break;
      case MyNavigator::kNext:
        my_table_.Next();
        break;
      case MyNavigator::kLast:
        my_table_.Last();
        break;
      case MyNavigator::kInsert:
        my_table_.Append();
        break;
      case MyNavigator::kDelete:
        DoDelete();
        break;
      case MyNavigator::kEdit:
        my_table_.Edit();
        break;
      case MyNavigator::kPost:
        my_table_.Post();
        DisplayCount();
        break;
      case MyNavigator::kCancel:
        my_table_.Cancel();
        DisplayCount();
        break;
      case MyNavigator::kRefresh:
        my_table_.Refresh();
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
  state_.searching = true;
  SearchOnLabel->show();
  UpdateCommandStates();
}

void TMain::DisableEndSearch() {
  state_.searching = false;
  SearchOnLabel->hide();
  UpdateCommandStates();
}

void TMain::DoEndSearch() {
  DisableEndSearch();
  ReopenMyTable();
  SetViewerOptions();
  DisplayCount();
}

// ---------------------------------------------------------------------------
// Sort string

void TMain::BuildSortString() {
  const auto& levels = state_.settings.sort_levels;
  int n = 0;
  for (int level : levels) {
    if (level > 0) ++n;
  }
  const int width = n == 0 ? 0 : 80 / n;
  QString s;
  for (int level : levels) {
    if (level <= 0 || level > kFieldCount) continue;
    const FieldInfo& f = FieldTable[static_cast<size_t>(level)];
    const QString name = QString::fromLatin1(f.name.data(), static_cast<int>(f.name.size()));
    switch (f.kind) {
      case FieldKind::kText:
        s += QStringLiteral("Upper(Left(%1,%2))+").arg(name).arg(width);
        break;
      case FieldKind::kWhole:
        s += QStringLiteral("STR(%1,12,0)+").arg(name);
        break;
      case FieldKind::kDecimal:
        s += QStringLiteral("STR(%1,12,2)+").arg(name);
        break;
      case FieldKind::kDate:
        s += QStringLiteral("DTOS(%1)+").arg(name);
        break;
    }
  }
  s.chop(1);
  sort_string_ = s.left(255);
}

// ---------------------------------------------------------------------------
// Database commands

namespace {

// The record count is shown again however a database command ends: after a
// cancelled dialog, a refused file or an engine error alike. Showing it never
// throws (the model reports its own errors).
class CountWhenDone {
 public:
  explicit CountWhenDone(TMain& main) : main_(main) {}
  ~CountWhenDone() { main_.DisplayCount(); }
  CountWhenDone(const CountWhenDone&) = delete;
  CountWhenDone& operator=(const CountWhenDone&) = delete;

 private:
  TMain& main_;
};

}  // namespace

void TMain::DoOpen() {
  CountWhenDone count(*this);
  const QString path = prompts().OpenFile(this, [&] {
    platform::FileDialogRequest r = DatabaseDialog(texts::kOpenDialogTitle);
    r.file_must_exist = true;
    return r;
  }());
  if (!path.isEmpty()) {
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::texts::kCaptionError),
                           Latin(klv::texts::kInvalidFileType), MsgIcon::kError, MsgButtons::kOk,
                           MsgButton::kOk);
    } else {
      SwitchTo(path, /*is_new=*/false);
    }
  }
}

void TMain::OpenSaveFile(const QString& path) {
  CountWhenDone count(*this);
  if (!path.isEmpty()) SwitchTo(path, /*is_new=*/false);
}

void TMain::DoNew() {
  CountWhenDone count(*this);
  const QString path = prompts().SaveFile(this, [&] {
    platform::FileDialogRequest r = DatabaseDialog(texts::kNewDialogTitle);
    r.path_must_exist = true;
    r.overwrite_prompt = true;
    return r;
  }());
  if (!path.isEmpty()) {
    if (state_.searching) DoEndSearch();
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::texts::kCaptionError),
                           Latin(klv::texts::kInvalidFileType), MsgIcon::kError, MsgButtons::kOk,
                           MsgButton::kOk);
    } else if (path == state_.paths.dbf || QFileInfo(path) == QFileInfo(state_.paths.dbf)) {
      // Replacing the open database: close it first so that it is not "in
      // use" by ourselves; the switch below opens the new, empty one.
      model_->SetTable(nullptr);
      my_table_.Close();
      bool made = false;
      try {
        made = MakeNewDB(path);
      } catch (...) {
        ReopenMyTable();
        model_->SetTable(&my_table_);
        throw;
      }
      if (made) {
        SwitchTo(path, /*is_new=*/true);
      } else {
        ReopenMyTable();
      }
      model_->SetTable(&my_table_);
    } else if (MakeNewDB(path)) {
      SwitchTo(path, /*is_new=*/true);
    }
  }
}

void TMain::SwitchTo(const QString& path, bool is_new) {
  // 1.
  if (!is_new && !CheckDBaseFormat(this, path)) return;
  // 2.
  if (state_.searching) DoEndSearch();
  ViewerGrid->CommitEditor();
  if (my_table_.IsOpen() && my_table_.state() != dbf::Table::State::kBrowse) my_table_.Cancel();

  // What to go back to when the switch fails part way.
  const QString previous = state_.database_name;
  const DatabasePaths previous_paths = state_.paths;
  const Settings previous_settings = state_.settings;
  const QString previous_sort = sort_string_;
  const UserFonts previous_fonts = state_.fonts;
  const bool previous_saved_editing = state_.saved_field_editing;

  try {
    // 3. and 4.
    BindDatabase(path);
    // 5.
    WriteDatabaseSettings(previous_paths.ini);
    if (pick_lists_) pick_lists_->SaveAllLists();
    // 6. and 7.
    if (is_new) {
      if (pick_lists_) pick_lists_->LoadDefaultList();
      ReadDatabaseSettings(QString());
    } else {
      if (pick_lists_) pick_lists_->LoadAllList();
      ReadDatabaseSettings(state_.paths.ini);
    }
    // 8.
    BuildSortString();
    // 9. and 10.
    const bool alone = is_new || !DBaseInUse(state_.paths.dbf);
    OpenMyTable(alone ? IndexSetup::kRebuild : IndexSetup::kKeep);
  } catch (const std::exception& e) {
    const QString what = QString::fromStdString(e.what());
    my_table_.Close();
    state_.settings = previous_settings;
    state_.fonts = previous_fonts;
    state_.saved_field_editing = previous_saved_editing;
    sort_string_ = previous_sort;
    BindDatabase(previous);
    state_.paths = previous_paths;
    if (pick_lists_) pick_lists_->LoadAllList();
    bool back = RunCommand([&] { OpenMyTable(IndexSetup::kKeep); });
    QString message = Latin(texts::kSwitchFailed) + what;
    if (back) message += QStringLiteral("\n\n") + Latin(texts::kPreviousReopened);
    prompts().MessageBox(this, Latin(klv::texts::kCaptionError), message, MsgIcon::kError,
                         MsgButtons::kOk, MsgButton::kOk);
    if (!back) {
      // Not even the database open before can be had: the window cannot go
      // on without one.
      QString fallback = AskForValidDatabase();
      bool ok = !fallback.isEmpty() && RunCommand([&] {
        BindDatabase(fallback);
        ReadDatabaseSettings(state_.paths.ini);
        BuildSortString();
        OpenMyTable(IndexSetup::kSelectOrAdd);
      });
      if (!ok) {
        created_ = false;
        QApplication::exit(1);
        return;
      }
    }
    DoFileSpecific();
    return;
  }
  // 11.
  DoFileSpecific();
  // 12.
  DoLastFiles(state_.settings.last_files, previous, path);
  SetMenuLastFiles();
}

void TMain::SetMenuLastFiles() {
  const auto& files = state_.settings.last_files;
  const bool any =
      std::any_of(files.begin(), files.end(), [](const QString& f) { return !f.isEmpty(); });
  MenuLastFilesSeparator->setVisible(any);
  for (size_t i = 0; i < files.size(); ++i) {
    QAction* a = MenuLastFiles[i];
    a->setVisible(!files[i].isEmpty());
    a->setText(QStringLiteral("&%1").arg(i + 1) + Latin(texts::kLastFileGap) + files[i]);
  }
}

void TMain::DoUpdate() {
  WriteDatabaseSettings(state_.paths.ini);
  const bool searching = state_.searching;
  ReopenMyTable();
  if (searching) EnableEndSearch();
  SetViewerOptions();
  DisplayCount();
}

// ---------------------------------------------------------------------------
// Record commands

void TMain::DoDelete() {
  if (!my_table_.IsOpen()) return;
  if (my_table_.state() != dbf::Table::State::kBrowse) my_table_.Cancel();
  if (my_table_.RecNo() == 0) return;  // nothing to delete
  const MsgButton answer =
      prompts().MessageBox(this, Latin(texts::kCaptionConfirm), Latin(texts::kDeleteRecord),
                           MsgIcon::kQuestion, MsgButtons::kYesNo, MsgButton::kNo);
  if (answer == MsgButton::kYes) my_table_.Delete();
  DisplayCount();
}

// ---------------------------------------------------------------------------
// Options

void TMain::SetScreenSize(int setting) {
  // A menu item toggles its own tick when chosen; the ticks always show the
  // setting in force.
  auto tick = [this] {
    for (size_t i = 0; i < MenuScreenSizes.size(); ++i)
      MenuScreenSizes[i]->setChecked(kScreenSizes[i].setting == state_.settings.window_size);
  };
  const ScreenSize* size = FindScreenSize(setting);
  tick();
  if (!size || setting == state_.settings.window_size) return;
  if (!ScreenCanShow(*size, state_.screen_width, state_.screen_height)) {
    const int i = static_cast<int>(size - kScreenSizes.data());
    prompts().MessageBox(this, Latin(klv::texts::kCaptionError),
                         Latin(texts::kScreenTooSmall1) + Latin(texts::kMenuScreenSizes[i]) +
                             Latin(texts::kScreenTooSmall2),
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
    return;
  }
  state_.settings.window_size = size->setting;
  state_.scale_factor = size->factor;
  tick();
}

void TMain::SetDateFormat(int format) {
  if (format == state_.settings.date_format) {
    MenuDateFormats[static_cast<size_t>(format - 1)]->setChecked(true);
    return;
  }
  state_.settings.date_format = format;
  ApplyFormats(/*refresh=*/true);
}

void TMain::ToggleLeadingZeros() {
  state_.settings.date_leading_zeros = !state_.settings.date_leading_zeros;
  ApplyFormats(/*refresh=*/true);
}

void TMain::SetNumericFormat(int format) {
  state_.settings.numeric_format = format;
  ApplyFormats(/*refresh=*/false);
}

void TMain::SetCurrencyFormat(int format) {
  state_.settings.currency_format = format;
  ApplyFormats(/*refresh=*/false);
}

void TMain::ChooseUserFont(int which) {
  QFont* font = which == 0   ? &state_.fonts.label
                : which == 1 ? &state_.fonts.edit
                             : &state_.fonts.button;
  std::optional<QFont> chosen = prompts().ChooseFont(this, *font);
  if (!chosen) return;
  *font = *chosen;
  StoreUserFonts(state_.settings, state_.fonts);
  ApplyUserFonts(this, state_.fonts);
}

// ---------------------------------------------------------------------------
// Help

void TMain::DoHelpContents() {
  platform::ShowHelpContents(this);
}

void TMain::DoAbout() {
  TAboutBox box(this, QCoreApplication::applicationVersion(), state_.scale_factor);
  box.exec();
}

}  // namespace klv::app
