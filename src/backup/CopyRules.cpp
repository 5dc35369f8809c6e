#include "backup/CopyRules.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/Error.h"

namespace klv::backup {

CopyPlace RealPlace() {
  CopyPlace place;
  place.free_space = FreeSpaceOf;
  return place;
}

std::optional<uint64_t> FreeSpaceOf(const QString& dir) {
  struct statvfs s {};
  if (statvfs(QFile::encodeName(dir).constData(), &s) != 0) return std::nullopt;
  return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

QString TemporaryFor(const QString& dest) {
  return dest + QStringLiteral(".copying");
}

bool CopyFile(base::Env& env, const QString& from, const QString& dest, QString* reason,
              const std::function<void(double)>& progress) {
  const std::string src_path = QFile::encodeName(from).toStdString();
  const std::string dest_path = QFile::encodeName(dest).toStdString();
  const std::string tmp = QFile::encodeName(TemporaryFor(dest)).toStdString();
  bool made = false;
  try {
    std::unique_ptr<base::File> in = env.Open(src_path, base::OpenMode::kReadOnly);
    const uint64_t size = in->Size();
    if (env.Exists(tmp)) env.Remove(tmp);
    std::unique_ptr<base::File> out = env.Open(tmp, base::OpenMode::kCreateTruncate);
    made = true;
    // Pieces large enough for the system's copy to run at full speed, small
    // enough for the gauge to move.
    constexpr uint64_t kPiece = uint64_t{64} << 20;
    uint64_t at = 0;
    for (;;) {
      const uint64_t n = out->CopyFrom(*in, at, kPiece);
      at += n;
      if (n == 0) break;
      if (progress && size > 0) progress(static_cast<double>(at) / static_cast<double>(size));
      if (n < kPiece) break;
    }
    out->Sync();
    const uint64_t written = out->Size();
    if (at != size || written != size) {
      base::Fail(base::ErrorCode::kIo, "the copy of \"" + src_path + "\" holds " +
                                           std::to_string(written) + " bytes, the file " +
                                           std::to_string(size));
    }
    out.reset();
    env.Rename(tmp, dest_path);
    env.SyncDir(dest_path);
    return true;
  } catch (const std::exception& e) {
    if (reason) *reason = QString::fromStdString(e.what());
    if (made) {
      try {
        env.Remove(tmp);
      } catch (const std::exception&) {
        // The next copy to this destination removes it.
      }
    }
    return false;
  }
}

bool CopyFits(const CopyPlace& place, const QString& dir, uint64_t source_size) {
  if (!place.free_space) return true;
  const std::optional<uint64_t> free = place.free_space(dir);
  // A file system that cannot tell is tried; a copy that does not fit fails
  // without harm.
  return !free || *free >= source_size;
}

bool SameFile(const QString& a, const QString& b) {
  const QString ca = QDir::cleanPath(QFileInfo(a).absoluteFilePath());
  const QString cb = QDir::cleanPath(QFileInfo(b).absoluteFilePath());
  if (ca.compare(cb, Qt::CaseInsensitive) == 0) return true;
  const QFileInfo ia(ca), ib(cb);
  if (!ia.exists() || !ib.exists()) return false;
  return !ia.canonicalFilePath().isEmpty() && ia.canonicalFilePath() == ib.canonicalFilePath();
}

QString JoinPath(const QString& dir, const QString& name) {
  return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

QString ListExtension(int list) {
  return QStringLiteral(".%1").arg(list, 3, 10, QLatin1Char('0'));
}

QString TableNameOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const int dot = name.indexOf('.');
  return dot < 0 ? name : name.left(dot);
}

namespace {

// Octal escapes (\040 for a blank) of the mounts file.
QString Unescape(const QByteArray& field) {
  QByteArray out;
  for (int i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      bool ok = false;
      const int c = field.mid(i + 1, 3).toInt(&ok, 8);
      if (ok) {
        out += static_cast<char>(c);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return QFile::decodeName(out);
}

bool UnderKernelTree(const QString& dir) {
  for (const char* tree : {"/proc", "/sys", "/dev"}) {
    if (dir == QLatin1String(tree) || dir.startsWith(QLatin1String(tree) + '/')) return true;
  }
  return false;
}

}  // namespace

std::vector<Drive> MountedDrives(const QString& mounts) {
  static const std::set<QString> kPseudo = {
      "proc",      "sysfs",       "devtmpfs",        "devpts",     "cgroup",
      "cgroup2",   "securityfs",  "debugfs",         "tracefs",    "pstore",
      "bpf",       "mqueue",      "hugetlbfs",       "configfs",   "fusectl",
      "autofs",    "binfmt_misc", "rpc_pipefs",      "nsfs",       "efivarfs",
      "selinuxfs", "ramfs",       "fuse.gvfsd-fuse", "fuse.portal"};
  std::vector<Drive> drives;
  QFile file(mounts);
  if (!file.open(QIODevice::ReadOnly)) return drives;
  const QList<QByteArray> lines = file.readAll().split('\n');
  for (const QByteArray& line : lines) {
    const QList<QByteArray> f = line.simplified().split(' ');
    if (f.size() < 3) continue;
    Drive d{Unescape(f[1]), Unescape(f[0]), QString::fromLatin1(f[2])};
    if (kPseudo.count(d.type) || UnderKernelTree(d.mount_point)) continue;
    bool seen = false;
    for (Drive& earlier : drives) {
      if (earlier.mount_point == d.mount_point) {
        earlier = d;  // the later mount hides the earlier one
        seen = true;
      }
    }
    if (!seen) drives.push_back(d);
  }
  return drives;
}

int DriveOf(const std::vector<Drive>& drives, const QString& path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  int best = 0;
  qsizetype best_len = -1;
  for (size_t i = 0; i < drives.size(); ++i) {
    const QString& m = drives[i].mount_point;
    const bool holds = m == QLatin1String("/") || clean == m || clean.startsWith(m + '/');
    if (holds && m.size() > best_len) {
      best = static_cast<int>(i);
      best_len = m.size();
    }
  }
  return best;
}

}  // namespace klv::backup
