// The viewer grid's obverse column: a grid of 100,000 rows, each with an
// obverse picture, scrolled a screen at a time at 40 places through a real
// table view, with and without the column. Printed: the median time of a
// screen without the column (the baseline, same run), and with it when the
// small pictures are first made, when they come from the folder's cache
// (a new start) and when they are already held (scrolling back).
//   klv_picture_bench [--rows N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>

#include "BenchPictures.h"
#include "app/ViewerModel.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/PictureFiles.h"
#include "pictures/PictureStore.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median time of scrolling to each place and painting the screen.
double Scroll(QTableView& view, const std::vector<int>& places) {
  std::vector<double> ms;
  for (int row : places) {
    const Clock::time_point s = Clock::now();
    view.verticalScrollBar()->setValue(row);
    view.viewport()->repaint();
    ms.push_back(Ms(Clock::now() - s));
  }
  return Median(ms);
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 100000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string dir = (fs::temp_directory_path() / "klv-picture-bench").string();
  fs::remove_all(dir);
  fs::create_directories(dir);
  Clock::time_point s = Clock::now();
  klv::bench::MakePictureDatabase(dir, rows);
  std::printf("made %d rows with their pictures in %.0f ms\n", rows, Ms(Clock::now() - s));

  klv::dbf::Table t;
  t.SetDirectory(dir + "/");
  t.SetTableName("MASTER.DBF");
  t.Open();
  klv::app::ViewerModel model;
  std::vector<klv::app::ViewerColumn> cols;
  // Ten fields, so the picture column after them is on the screen.
  for (int f = 1; f <= 10; ++f) cols.push_back({f, QString::number(f), 15});
  model.SetColumns(cols);
  model.SetTable(&t);
  QTableView view;
  view.setModel(&model);
  view.resize(1280, 1024);
  view.verticalHeader()->setDefaultSectionSize(22);
  view.show();
  QApplication::processEvents();

  std::mt19937 rng(11);
  std::vector<int> places;
  for (int k = 0; k < 40; ++k) places.push_back(static_cast<int>(rng() % (rows - 60)));

  const double without = Scroll(view, places);
  double filled = 0;
  auto with_column = [&](klv::pictures::ObverseThumbnails& thumbnails) {
    thumbnails.ready = [&](uint32_t recno) { model.PictureReady(recno); };
    model.SetPictureColumn(
        [&](uint32_t recno) {
          return thumbnails.Of(QString::fromStdString(dir + "/MASTER.DBF"), recno, 20);
        },
        QStringLiteral("Obverse"));
    view.setColumnWidth(model.PictureColumn(), 44);
    view.scrollToTop();
    const double ms = Scroll(view, places);
    Clock::time_point s = Clock::now();
    thumbnails.WaitForAll();
    filled = Ms(Clock::now() - s);
    return ms;
  };
  {
    klv::pictures::PictureStore store(dir + "/MASTER.DBF");
    store.Load();
    std::printf("%zu pictures attached\n", store.pictures().size());
  }
  klv::pictures::ObverseThumbnails first;
  const double made = with_column(first);
  const double made_filled = filled;
  const double held = with_column(first);
  klv::pictures::ObverseThumbnails again;  // a new start: the folder's cache
  const double cached = with_column(again);
  const double cached_filled = filled;
  model.SetPictureColumn({}, {});
  const double without_again = Scroll(view, places);
  double baseline = std::min(without, without_again);
  // The machine is shared: the held pictures against the baseline in
  // alternating rounds, the median of their ratios.
  std::vector<double> ratios, cache_ratios;
  for (int round = 0; round < 7; ++round) {
    double plain = Scroll(view, places);
    ratios.push_back(with_column(first) / plain);
    model.SetPictureColumn({}, {});
    plain = Scroll(view, places);
    klv::pictures::ObverseThumbnails fresh;
    cache_ratios.push_back(with_column(fresh) / plain);
    model.SetPictureColumn({}, {});
  }
  std::printf(
      "in 7 alternating rounds against the baseline: held %.2fx, from the folder's "
      "cache %.2fx (medians)\n",
      Median(ratios), Median(cache_ratios));

  std::printf("screen without the picture column (baseline): %.2f ms\n", baseline);
  baseline = std::max(baseline, 1e-9);
  std::printf("with it, pictures first made:                 %.2f ms (%.2fx)\n", made,
              made / baseline);
  std::printf("with it, from the folder's cache (new start): %.2f ms (%.2fx)\n", cached,
              cached / baseline);
  std::printf("with it, pictures held (scrolling back):      %.2f ms (%.2fx)\n", held,
              held / baseline);
  std::printf(
      "the pictures of the 40 screens made in the background in %.0f ms the first time, "
      "%.0f ms from the folder's cache\n",
      made_filled, cached_filled);
  if (!qEnvironmentVariableIsSet("KLV_KEEP")) fs::remove_all(dir);
  return 0;
}
