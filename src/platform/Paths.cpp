#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/Env.h"
#include "platform/PlatformTexts.h"

namespace klv::platform {
namespace {

QString Variable(const char* name) {
  return qEnvironmentVariable(name);
}

QString Absolute(const QString& path) {
  return WithoutTrailingSlash(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

// $own if set, else $xdg/klvcoin when $xdg is an absolute path, else
// ~/fallback/klvcoin.
QString Locate(const char* own, const char* xdg, const char* fallback) {
  const QString mine = Variable(own);
  if (!mine.isEmpty()) return Absolute(mine);
  const QString base = Variable(xdg);
  if (!base.isEmpty() && QDir::isAbsolutePath(base)) return Absolute(base + "/klvcoin");
  return Absolute(QDir::homePath() + "/" + fallback + "/klvcoin");
}

}  // namespace

QString WithoutTrailingSlash(const QString& path) {
  QString out = path;
  while (out.size() > 1 && out.endsWith(u'/')) out.chop(1);
  return out;
}

Directories LocateDirectories() {
  Directories dirs;
  dirs.program = Locate("KLVCOIN_HOME", "XDG_DATA_HOME", ".local/share");
  dirs.windows = Locate("KLVCOIN_WINDIR", "XDG_CONFIG_HOME", ".config");
  dirs.start = WithoutTrailingSlash(QDir::currentPath());
  return dirs;
}

QStringList ShippedFileDirectories() {
  const QString here = QDir::cleanPath(QCoreApplication::applicationDirPath());
  return {here, QDir::cleanPath(here + QStringLiteral("/../share/klvcoin"))};
}

QString ShippedFilesDir(const QString& name) {
  for (const QString& dir : ShippedFileDirectories()) {
    if (!FindFileNoCase(dir, name).isEmpty()) return dir;
  }
  return {};
}

bool EnsureDirectory(const QString& dir, QString* error) {
  const QFileInfo info(dir);
  if (info.isDir()) return true;
  if (info.exists()) {
    if (error) *error = QString::fromLatin1(texts::kNotADirectory).arg(dir);
    return false;
  }
  if (!QDir().mkpath(dir)) {
    if (error) *error = QString::fromLatin1(texts::kCannotCreateDirectory).arg(dir);
    return false;
  }
  return true;
}

QString FindFileNoCase(const QString& dir, const QString& name) {
  std::string native_dir = QFile::encodeName(dir).toStdString();
  if (!native_dir.empty() && native_dir.back() != '/') native_dir += '/';
  const std::string found = base::FindFileNoCase(native_dir, QFile::encodeName(name).toStdString());
  return found.empty() ? QString() : QFile::decodeName(QByteArray::fromStdString(found));
}

QString CompanionFile(const QString& dir, const QString& name) {
  const QString found = FindFileNoCase(dir, name);
  if (!found.isEmpty()) return found;
  if (dir.isEmpty()) return name;
  return dir.endsWith(u'/') ? dir + name : dir + u'/' + name;
}

}  // namespace klv::platform
