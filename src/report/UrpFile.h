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

namespace klv::base {
class Env;
}  // namespace klv::base

namespace klv::report {

constexpr int kUrpRecordSize = 20622;
constexpr int kOldUrpRecordSize = 19831;

// One record's bytes (exactly kUrpRecordSize) and back. Texts are stored in
// Windows-1252, cut to their capacity; Encode throws base::Error (kCodePage)
// for a text that code page cannot hold (UnstorableText says which first).
// Decode reads any bytes: a length byte beyond its capacity reads as the
// capacity, a number of lines outside 0 to 12 as the nearest of the two.
QByteArray EncodeReportDef(const ReportDef& def);
ReportDef DecodeReportDef(const QByteArray& record);
// Whether a record's bytes are not what any writer of the file writes: a
// string longer than its capacity, a width other than 90, 120 or 150, a
// number of lines outside 0 to 12, a flag byte other than 0 and 1.
bool LooksDamaged(const QByteArray& record);

// One record of the older file (exactly kOldUrpRecordSize) as a definition
// of this file: its name, width, titles, column headers, page numbers, use
// totals, number of lines and items; the rest as the older program printed
// it (see the .cpp). Each field item gets its field number from its name.
ReportDef ConvertOldReportDef(const QByteArray& old_record);

// The five definitions a new file is created with, in file order.
std::vector<ReportDef> BuiltInReportDefs();

class UrpFile {
 public:
  // env: the file layer (the process's file system when null).
  explicit UrpFile(QString path, base::Env* env = nullptr);
  const QString& path() const { return path_; }

  struct Contents {
    std::vector<ReportDef> defs;  // every whole record, in file order
    QString problem;              // empty, or what is wrong with the file
  };
  // A missing file holds no definitions. A file whose size is not a whole
  // number of records, or with records that look damaged, still gives every
  // whole record; problem then says what is wrong. Throws base::Error, with
  // a message naming the file, when the file cannot be read.
  Contents Load() const;
  QStringList Names() const;
  // Throws base::Error (kNotFound) for an index the file does not hold.
  ReportDef Read(int index) const;

  // Each writes the whole file anew (temporary file beside it, sync, rename);
  // a missing file is created. The other records are kept byte for byte; a
  // piece of a record at the end (see Load) is dropped, but not before the
  // damaged file, as it was, is copied beside it to
  // "<name>.damaged-YYYYMMDD-HHMMSS" (KeptAside then names the copy): so is
  // a file with damaged records at the first rewrite (no such copy yet).
  // Throw base::Error, with a message naming the file, and leave the old
  // file as it was. Append returns the new record's index.
  int Append(const ReportDef& def);
  void Write(int index, const ReportDef& def);
  void Delete(int index);

  // Start-up: create the file with the built-ins when it is missing (true
  // then), then merge the older file (records of kOldUrpRecordSize) when it
  // exists and delete it. Every whole record of the older file not named
  // like a built-in is appended (ConvertOldReportDef); the older file is
  // deleted only once they are safely in this file, so a read or write
  // error (thrown) leaves it for the next start. Returns the number of
  // definitions merged.
  bool CreateIfMissing();
  int MergeOldFile(const QString& old_path);

  // Where the last change kept the damaged file; empty when it kept none.
  const QString& KeptAside() const { return kept_aside_; }

 private:
  static constexpr char kKeptSuffix[] = ".damaged-";
  // Every whole record, for a rewrite: a damaged file kept aside first.
  std::vector<QByteArray> ReadForRewrite();
  std::vector<QByteArray> ReadRecords(size_t record_size, const QString& path,
                                      qint64* tail = nullptr) const;
  void WriteRecords(const std::vector<QByteArray>& records);

  QString path_;
  base::Env* env_;
  QString kept_aside_;
};

// The report definitions file of the program directory: "KLVCOIN.URP", found
// without regard to letter case.
QString DefinitionsFilePath(const QString& program_dir);

// Start-up: the definitions file of the program directory created with the
// built-ins when missing, then the older "RADER.URP" there (any letter case)
// merged into it and deleted. Throws base::Error with the input/output error
// to show when either file cannot be read or written.
void PrepareDefinitionsFile(const QString& program_dir);

}  // namespace klv::report
