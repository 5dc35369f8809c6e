// How backup and restore copy a file, and the tests around a copy: whether
// it fits on the destination, whether source and destination are one file,
// where a file goes, and the mounted file systems the dialogs offer as
// drives.
//
// Promises:
// - CopyFile never leaves a partial file under the destination's name and
//   never destroys the file it replaces until the copy is whole: it writes a
//   temporary file beside the destination, syncs it, checks that it holds as
//   many bytes as the source, renames it into place and syncs the directory.
//   On any failure (or a kill) the destination is as it was; a temporary
//   file a kill left behind is removed by the next copy to that destination.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QString>

#include "base/Env.h"

namespace klv::backup {

// Where the copies go: the file layer and the free-space question, both
// replaceable by tests.
struct CopyPlace {
  base::Env* env = &base::Env::Default();
  // Free bytes for an unprivileged user on the file system holding dir;
  // nothing when it cannot be told.
  std::function<std::optional<uint64_t>(const QString& dir)> free_space;
  // Told how far a copy has come, 0 to 1; may be empty.
  std::function<void(double)> progress;
};
// The real file system, free space from statvfs.
CopyPlace RealPlace();
std::optional<uint64_t> FreeSpaceOf(const QString& dir);

// The temporary name a copy to dest is written under.
QString TemporaryFor(const QString& dest);
// Copies from to dest as above. False, with the reason in *reason when
// given, when the source cannot be read or the copy cannot be completed.
bool CopyFile(base::Env& env, const QString& from, const QString& dest, QString* reason = nullptr,
              const std::function<void(double)>& progress = {});

// Whether a copy of source_size bytes fits into dir: the new file is
// written beside the one it replaces, so the free space alone must hold it.
bool CopyFits(const CopyPlace& place, const QString& dir, uint64_t source_size);

// Whether a and b name one file: equal paths without regard to letter case
// (after making them absolute and clean), or one existing file reached by
// two paths.
bool SameFile(const QString& a, const QString& b);

// dir + "/" + name, with no doubled '/' for the root.
QString JoinPath(const QString& dir, const QString& name);

// The pick-list file extension of list 1 to 3: ".001" to ".003".
QString ListExtension(int list);

// The table name of a file: its name up to the first '.'.
QString TableNameOf(const QString& path);

// A mounted file system the dialogs offer as a drive.
struct Drive {
  QString mount_point;
  QString device;
  QString type;
};
// The mounted file systems listed in mounts (the format of /proc/self/mounts),
// in their order, without the pseudo file systems of the kernel (proc, sysfs,
// cgroups, device and control file systems) and without those mounted below
// /proc, /sys or /dev.
std::vector<Drive> MountedDrives(const QString& mounts = QStringLiteral("/proc/self/mounts"));
// The index in drives of the one holding path (the longest mount point that
// contains it); 0 when none does.
int DriveOf(const std::vector<Drive>& drives, const QString& path);

}  // namespace klv::backup
