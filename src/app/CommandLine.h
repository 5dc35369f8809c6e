// How the program was started: its command line, understood, and the
// options main() and the tests start the main window with.
#pragma once

#include <optional>

#include <QSize>
#include <QString>
#include <QStringList>

namespace klv::app {

// How the program was started.
struct StartOptions {
  QStringList arguments;        // the command line after the program name
  std::optional<QSize> screen;  // the screen size to assume; default: the primary screen's
};

// The command line, understood: "/BROWSE" in any letter case (or --browse),
// an optional database file, and a report to run without a window
// (--report NAME --output FILE, both or neither; --paper a4|letter).
struct CommandLine {
  bool browse = false;
  QString database;  // empty: the "Last Database" setting decides
  bool help = false;
  bool version = false;
  QString error;  // an argument that is none of these
  // --report NAME --output FILE: run that report into FILE without a window.
  QString report;
  // --statistics / --want-list --output FILE: those files without a window.
  bool statistics = false;
  bool want_list = false;
  QString output;
  QString paper;    // --paper a4|letter (with --report): the paper of the pages
  QString problem;  // a request that cannot be carried out as given
};
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace klv::app
