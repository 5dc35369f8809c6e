// A long run: the hourglass while it lasts; its pulses let paints and timers
// through at bounded intervals (and say so), and do nothing without a run.
#include "forms/BusyRun.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace klv::forms {
namespace {

class Painted : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

// Pulses as a run over many rows would, for ms milliseconds.
void PulseFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) BusyRun::Pulse();
}

TEST(BusyRunTest, PulsesLetTheWindowPaintOnlyDuringARun) {
  Painted w;
  w.resize(40, 40);
  w.show();
  QApplication::processEvents();
  int timers = 0;
  bool delivering = false;
  auto timer = [&] {
    ++timers;
    delivering = BusyRun::Delivering();
  };

  QTimer::singleShot(0, timer);
  w.update();
  int paints = w.paints;
  PulseFor(2 * BusyRun::kPulseInterval);
  EXPECT_EQ(timers, 0);
  EXPECT_EQ(w.paints, paints);
  EXPECT_FALSE(BusyRun::Active());

  {
    BusyRun busy;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_TRUE(BusyRun::Active());
    PulseFor(3 * BusyRun::kPulseInterval);
    EXPECT_EQ(timers, 1);
    EXPECT_TRUE(delivering);
    EXPECT_GT(w.paints, paints);
    EXPECT_FALSE(BusyRun::Delivering());
    QTimer::singleShot(0, timer);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QApplication::processEvents();
  EXPECT_EQ(timers, 2);
}

}  // namespace
}  // namespace klv::forms
