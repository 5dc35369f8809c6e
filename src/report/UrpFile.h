// The report definitions file: a plain sequence of fixed-size definition
// records, no header; a definition's position is its index in the report
// chooser's list. Every change rewrites the file through a temporary file
// renamed into place, so a failed write never leaves it truncated.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "report/ReportDef.h"

namespace klv::report {

constexpr int kUrpRecordSize = 20622;
constexpr int kOldUrpRecordSize = 19831;

// One record's bytes (exactly kUrpRecordSize) and back.
QByteArray EncodeReportDef(const ReportDef& def);
ReportDef DecodeReportDef(const QByteArray& record);

// The five definitions a new file is created with, in file order.
std::vector<ReportDef> BuiltInReportDefs();

class UrpFile {
 public:
  explicit UrpFile(QString path);
  const QString& path() const { return path_; }

  struct Contents {
    std::vector<ReportDef> defs;  // every whole record, in file order
    QString problem;              // empty, or what is wrong with the file
  };
  // Throws base::Error when the file cannot be read.
  Contents Load() const;
  QStringList Names() const;
  ReportDef Read(int index) const;

  // Each writes the whole file anew (temporary file, sync, rename); a missing
  // file is created. Throw base::Error and leave the old file as it was.
  void Append(const ReportDef& def);
  void Write(int index, const ReportDef& def);
  void Delete(int index);

  // Start-up: create the file with the built-ins when it is missing, then
  // merge the older file (records of kOldUrpRecordSize) when it exists and
  // delete it. Returns the number of definitions merged.
  bool CreateIfMissing();
  int MergeOldFile(const QString& old_path);

 private:
  QString path_;
};

}  // namespace klv::report
