// The sample collection shipped with the program: SAMPLE.DBF with its index
// SAMPLE.MDX, a made-up collection to try the program on. Open Sample
// Collection copies it into the program directory and opens the copy there,
// so the shipped files are never changed.
#pragma once

#include <QString>

namespace klv::db {

// Makes sure program_dir holds the sample collection and returns the path of
// its .DBF. A SAMPLE.DBF already there (in any letter case) is the user's
// copy and is returned as it is. Otherwise SAMPLE.MDX and then SAMPLE.DBF are
// copied from source_dir, each through a temporary file renamed into place,
// so an interrupted copy leaves no table behind; an index left without its
// table is replaced. Returns "" with the user's message in *error when
// source_dir has no sample or a copy fails.
QString InstallSampleCollection(const QString& program_dir, const QString& source_dir,
                                QString* error);

}  // namespace klv::db
