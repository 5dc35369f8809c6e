#include "db/Sample.h"

#include <exception>
#include <stdexcept>
#include <string>

#include <QDir>
#include <QFile>

#include "base/Env.h"
#include "db/DbTexts.h"
#include "platform/Paths.h"

namespace klv::db {
namespace {

namespace t = texts;

// Copies source to target through a temporary file beside target.
void CopyInto(const QString& source, const QString& target) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly))
    throw std::runtime_error(in.errorString().toLocal8Bit().toStdString());
  const QByteArray bytes = in.readAll();
  if (in.error() != QFileDevice::NoError)
    throw std::runtime_error(in.errorString().toLocal8Bit().toStdString());
  base::Env& env = base::Env::Default();
  const std::string path = QFile::encodeName(target).toStdString();
  base::ReplaceFile(env, path, [&](base::File& file) {
    if (!bytes.isEmpty()) file.WriteAt(0, bytes.constData(), static_cast<size_t>(bytes.size()));
  });
  env.SyncDir(path);
}

}  // namespace

QString InstallSampleCollection(const QString& program_dir, const QString& source_dir,
                                QString* error) {
  const QString dbf_name = QString::fromLatin1(t::kSampleTableFile);
  const QString mdx_name = QString::fromLatin1(t::kSampleIndexFile);
  const QString existing = platform::FindFileNoCase(program_dir, dbf_name);
  if (!existing.isEmpty()) return existing;
  const QString dbf_source =
      source_dir.isEmpty() ? QString() : platform::FindFileNoCase(source_dir, dbf_name);
  const QString mdx_source =
      source_dir.isEmpty() ? QString() : platform::FindFileNoCase(source_dir, mdx_name);
  if (dbf_source.isEmpty() || mdx_source.isEmpty()) {
    QString where = source_dir;
    if (where.isEmpty()) where = platform::ShippedFileDirectories().join(QLatin1Char('\n'));
    if (error) *error = QString::fromLatin1(t::kSampleMissing).arg(where);
    return {};
  }
  const QString dbf_target = QDir(program_dir).filePath(dbf_name);
  // An index is only ever replaced when it has no table beside it.
  const QString mdx_target = platform::CompanionFile(program_dir, mdx_name);
  try {
    CopyInto(mdx_source, mdx_target);
    CopyInto(dbf_source, dbf_target);
  } catch (const std::exception& e) {
    if (error)
      *error = QString::fromLatin1(t::kSampleCopyError)
                   .arg(program_dir, QString::fromLocal8Bit(e.what()));
    return {};
  }
  return dbf_target;
}

}  // namespace klv::db
