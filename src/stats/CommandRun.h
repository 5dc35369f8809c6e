// The statistics and the want list from the command line, without a window:
//   klvcoin --statistics --output FILE.PDF|FILE.CSV [FILE.DBF]
//   klvcoin --want-list --output FILE.PDF|FILE.CSV|FILE.TXT [FILE.DBF]
// The database (the one named, else the last one, else the default) is
// opened as at start, with its own settings; the whole table is counted.
// Needs a QGuiApplication.
#pragma once

#include <QString>

namespace klv::stats {

// Exit status: 0 done, 1 the file could not be made (one line on standard
// error says why), 2 a wrong request (an output name of another kind).
int RunStatisticsCommand(const QString& output, const QString& database);
int RunWantListCommand(const QString& output, const QString& database);

}  // namespace klv::stats
