// A long run inside a command (a search counting its rows, a locate walking
// the table, a replace changing rows): the hourglass over the application
// while it lasts, and the windows kept painted meanwhile.
//
// A run calls Pulse() as often as it likes, once per row is fine: at most
// every kPulseInterval it lets Qt deliver what is pending except the user's
// input (paints, window-system events, timers), so the windows repaint and
// the counters show, while nothing the user does can start another command
// on the table the run holds, and no window closes. Without a BusyRun in
// scope Pulse does nothing.
//
// While Pulse delivers, Delivering() is true. Code that reads a table from a
// paint or a timer (the viewer grid's model) must then keep to what it has
// already read and put off the rest: the run's walk owns the table's cursor.
#pragma once

namespace klv::forms {

class BusyRun {
 public:
  static constexpr int kPulseInterval = 100;  // milliseconds

  // The hourglass from now until the destructor; runs may nest.
  BusyRun();
  ~BusyRun();
  BusyRun(const BusyRun&) = delete;
  BusyRun& operator=(const BusyRun&) = delete;

  static void Pulse();
  static bool Active();
  static bool Delivering();
};

}  // namespace klv::forms
