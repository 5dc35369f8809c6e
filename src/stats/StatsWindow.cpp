#include "stats/StatsWindow.h"

#include <algorithm>
#include <cmath>

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include "forms/BusyRun.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "stats/StatsTexts.h"

namespace klv::stats {

using platform::L;

TStatsWindow::TStatsWindow(app::OpenDatabase& db, QWidget* parent)
    : QWidget(parent, Qt::Window), db_(db) {
  setObjectName(QStringLiteral("StatsWindow"));
  setWindowTitle(L(texts::kWindowCaption));
  setAttribute(Qt::WA_DeleteOnClose, false);

  ChartList = new QListWidget(this);
  ChartList->setObjectName(QStringLiteral("ChartList"));
  for (const char* title : texts::kChartTitles) ChartList->addItem(L(title));
  ChartList->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  ChartList->setWordWrap(true);

  ChartView = new QChartView(this);
  ChartView->setObjectName(QStringLiteral("ChartView"));
  ChartView->setRenderHint(QPainter::Antialiasing);
  ChartView->setMinimumHeight(200);

  FiguresTable = new QTableWidget(this);
  FiguresTable->setObjectName(QStringLiteral("FiguresTable"));
  FiguresTable->setColumnCount(static_cast<int>(FigureColumns().size()));
  FiguresTable->setHorizontalHeaderLabels(FigureColumns());
  FiguresTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FiguresTable->verticalHeader()->hide();
  FiguresTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

  NoticeLabel = new QLabel(this);
  NoticeLabel->setObjectName(QStringLiteral("NoticeLabel"));
  RefreshButton = new QPushButton(L(texts::kRefreshButton), this);
  RefreshButton->setObjectName(QStringLiteral("RefreshButton"));
  CloseButton = new QPushButton(L(texts::kCloseButton), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));

  // The chart takes the larger share of the height; the table scrolls.
  auto* right = new QVBoxLayout;
  right->addWidget(ChartView, 4);
  right->addWidget(FiguresTable, 1);
  auto* middle = new QHBoxLayout;
  middle->addWidget(ChartList);
  middle->addLayout(right, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(NoticeLabel, 1);
  bottom->addWidget(RefreshButton);
  bottom->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(middle, 1);
  layout->addLayout(bottom);
  resize(900, 640);

  connect(RefreshButton, &QPushButton::clicked, this, &TStatsWindow::RefreshButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  connect(ChartList, &QListWidget::currentRowChanged, this, &TStatsWindow::ChartListClick);
  // Figures of another set of rows than the notice names would mislead: a
  // search begun or ended, or another database, counts again (once the
  // change is complete), or at the next show when the window is hidden.
  const auto rows_changed = [this] {
    stale_ = true;
    if (isVisible())
      QTimer::singleShot(0, this, [this] {
        if (stale_ && isVisible()) RefreshButtonClick();
      });
  };
  connect(&db_, &app::OpenDatabase::SearchModeChanged, this, rows_changed);
  connect(&db_, &app::OpenDatabase::DatabaseBound, this, rows_changed);
}

TStatsWindow::~TStatsWindow() = default;

void TStatsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  forms::ApplyUserFonts(this, db_.state().fonts);
  FitChartList();
  SetColors();
  if (shown_) {
    if (stale_) QTimer::singleShot(0, this, &TStatsWindow::RefreshButtonClick);
    return;
  }
  shown_ = true;
  forms::CentreOnScreen(this);
  if (ChartList->currentRow() < 0) ChartList->setCurrentRow(0);
  RefreshButtonClick();
}

// The chart list as wide as its longest title in the user's label font.
// (a quarter of the window at most: longer titles wrap).
void TStatsWindow::FitChartList() {
  const int wanted = ChartList->sizeHintForColumn(0) + 2 * ChartList->frameWidth() + 8;
  ChartList->setFixedWidth(std::min(wanted, std::max(120, width() / 4)));
}

void TStatsWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!shown_) return;
  FitChartList();
  // The chart again, its labels and ticks fitted to the new size.
  QTimer::singleShot(0, this, [this] { ShowChart(ChartList->currentRow()); });
}

void TStatsWindow::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kMain);
}

void TStatsWindow::RefreshButtonClick() {
  if (forms::BusyRun::Active()) return;
  dbf::Table& table = db_.MyTable();
  if (!table.IsOpen()) return;
  const bool searching = db_.searching();
  stale_ = false;
  try {
    forms::BusyRun busy;
    RefreshButton->setEnabled(false);
    const Progress progress = [this](uint64_t done, uint64_t) {
      NoticeLabel->setText(L(texts::kCountStart) + QString::number(done));
      forms::BusyRun::Pulse();
      return true;
    };
    stats_ = CollectStatistics(table, searching, progress);
  } catch (const std::exception& e) {
    stats_ = Statistics{};
    if (OnError) OnError(QString::fromUtf8(e.what()));
  }
  RefreshButton->setEnabled(true);
  ShowNotice();
  ShowChart(std::max(0, ChartList->currentRow()));
}

void TStatsWindow::ChartListClick() {
  ShowChart(ChartList->currentRow());
}

void TStatsWindow::ShowNotice() {
  QString text = L(stats_.search_result ? texts::kSearchResult : texts::kWholeTable) +
                 QStringLiteral("  ") + L(texts::kCountStart) + QString::number(stats_.rows);
  if (!stats_.complete) text += L(texts::kStopped);
  NoticeLabel->setText(text);
}

void TStatsWindow::ShowChart(int index) {
  if (index < 0 || index >= static_cast<int>(stats_.charts.size())) {
    FiguresTable->setRowCount(0);
    return;
  }
  const Chart& c = stats_.charts[static_cast<size_t>(index)];
  const app::NumberFormats& formats = db_.state().formats;

  // The bars, the first group at the top.
  auto* chart = new QChart;
  chart->setTitle(c.title);
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  const bool dark = palette().color(QPalette::Window).lightness() < 128;
  chart->setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
  auto* series = new QHorizontalBarSeries;
  QStringList names;
  const bool pairs = c.measure == Measure::kValue;
  auto* first = new QBarSet(L(c.measure == Measure::kCoins      ? texts::kSeriesCoins
                              : c.measure == Measure::kSpending ? texts::kSeriesSpending
                                                                : texts::kSeriesPurchase));
  QBarSet* second = pairs ? new QBarSet(L(texts::kSeriesMarket)) : nullptr;
  double largest = 0;
  for (auto it = c.groups.rbegin(); it != c.groups.rend(); ++it) {
    names << it->name;
    const double v = c.measure == Measure::kCoins ? static_cast<double>(it->figures.coins)
                                                  : it->figures.purchase;
    *first << v;
    largest = std::max(largest, v);
    if (second) {
      *second << it->figures.market;
      largest = std::max(largest, it->figures.market);
    }
  }
  series->append(first);
  if (second) series->append(second);
  chart->addSeries(series);
  auto* categories = new QBarCategoryAxis;
  categories->append(names);
  // Every group's name shows: the labels shrink when the chart is low.
  const int bars = std::max<int>(1, static_cast<int>(names.size()) * (pairs ? 2 : 1));
  QFont label_font = font();
  label_font.setPixelSize(std::clamp((ChartView->height() - 90) / (bars + 1) - 10, 7, 12));
  chart->addAxis(categories, Qt::AlignLeft);
  categories->setLabelsFont(label_font);  // after the theme gave the axis its own
  series->attachAxis(categories);
  auto* values = new QValueAxis;
  values->setRange(0, largest > 0 ? largest : 1);
  // As many ticks as the width has room for.
  values->setTickCount(std::clamp(ChartView->width() / 120, 3, 6));
  values->applyNiceNumbers();
  if (c.measure == Measure::kCoins) {
    // Coins count in whole steps.
    const double step = std::max(
        1.0, std::ceil((values->max() - values->min()) / std::max(1, values->tickCount() - 1)));
    values->setRange(0, std::max(values->max(), step));
    values->setTickType(QValueAxis::TicksDynamic);
    values->setTickAnchor(0);
    values->setTickInterval(step);
    values->setLabelFormat(QStringLiteral("%.0f"));
  } else {
    // Round amounts on the axis; the table beneath has them to the cent.
    values->setLabelFormat(QStringLiteral("%.0f"));
  }
  chart->addAxis(values, Qt::AlignBottom);
  series->attachAxis(values);
  chart->legend()->setVisible(pairs);
  QChart* old = ChartView->chart();
  ChartView->setChart(chart);
  delete old;

  // The figures beneath, with the total last.
  std::vector<Group> rows = c.groups;
  rows.push_back(Group{L(texts::kTotal), c.total});
  FiguresTable->setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    const QStringList cells = FigureLine(rows[r], formats);
    for (int col = 0; col < cells.size(); ++col) {
      auto* item = new QTableWidgetItem(cells[col].trimmed());
      if (col > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      FiguresTable->setItem(static_cast<int>(r), col, item);
    }
  }
  FiguresTable->resizeColumnsToContents();
  FiguresTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
}

}  // namespace klv::stats
