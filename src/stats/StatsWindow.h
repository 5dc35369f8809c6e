// The statistics window, TStatsWindow: not modal, beside the main window.
// A list of the charts on the left; the chosen chart (Qt Charts) with the
// table of its figures beneath; a notice saying whether the figures are
// those of the whole collection or of the search result; Refresh walks the
// table again (rows another copy added since show then).
//
// The walk is a busy run: the hourglass, the windows repainted and the rows
// counted so far shown while it goes on.
#pragma once

#include <QWidget>

#include "app/OpenDatabase.h"
#include "stats/Statistics.h"

class QChartView;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace klv::stats {

class TStatsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TStatsWindow(app::OpenDatabase& db, QWidget* parent = nullptr);
  ~TStatsWindow() override;

  QListWidget* ChartList = nullptr;
  QChartView* ChartView = nullptr;
  QTableWidget* FiguresTable = nullptr;
  QLabel* NoticeLabel = nullptr;
  QPushButton* RefreshButton = nullptr;
  QPushButton* CloseButton = nullptr;

  // Walks the table and shows the chart chosen.
  void RefreshButtonClick();
  void ChartListClick();
  const Statistics& statistics() const { return stats_; }

  // An engine error of the walk, for the general error display.
  std::function<void(const QString&)> OnError;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SetColors();
  void FitChartList();
  void ShowChart(int index);
  void ShowNotice();

  app::OpenDatabase& db_;
  Statistics stats_;
  bool shown_ = false;
  bool stale_ = false;  // the rows counted are no longer the rows shown
};

}  // namespace klv::stats
