#include "forms/BusyRun.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

namespace klv::forms {
namespace {

int active = 0;
bool delivering = false;
unsigned calls = 0;
QElapsedTimer since;

// Reading the clock on every row would cost more than the rows themselves.
constexpr unsigned kCallsPerClockRead = 64;

// Closing a window asked for by the window system is held off while a pulse
// delivers: the run is still using what the window holds (its table).
class HoldCloses : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close && event->spontaneous()) {
      event->ignore();
      return true;
    }
    return false;
  }
};

}  // namespace

BusyRun::BusyRun() {
  if (active++ == 0) since.start();
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyRun::~BusyRun() {
  QApplication::restoreOverrideCursor();
  --active;
}

void BusyRun::Pulse() {
  if (active == 0 || delivering) return;
  if (++calls % kCallsPerClockRead != 0 || since.elapsed() < kPulseInterval) return;
  struct Delivery {
    Delivery() { delivering = true; }
    ~Delivery() { delivering = false; }
  } delivery;
  HoldCloses hold;
  QCoreApplication::instance()->installEventFilter(&hold);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::instance()->removeEventFilter(&hold);
  since.restart();
}

bool BusyRun::Active() {
  return active > 0;
}

bool BusyRun::Delivering() {
  return delivering;
}

}  // namespace klv::forms
