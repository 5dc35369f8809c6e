#include "base/Env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/Error.h"

namespace klv::base {

size_t File::ReadStart(size_t view, uint64_t off, void* buf, size_t n) {
  const uint8_t* v = MapStart(view);
  if (!v) return ReadAt(off, buf, n);
  std::memcpy(buf, v + off, n);
  return n;
}

void File::WriteStart(size_t view, uint64_t off, const void* buf, size_t n) {
  if (uint8_t* v = MapStart(view))
    std::memcpy(v + off, buf, n);
  else
    WriteAt(off, buf, n);
}

uint64_t File::CopyFrom(File& source, uint64_t off, uint64_t n) {
  std::vector<char> block(static_cast<size_t>(std::min<uint64_t>(n, 1 << 20)));
  uint64_t done = 0;
  while (done < n) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, block.size()));
    const size_t got = source.ReadAt(off + done, block.data(), want);
    if (got == 0) break;
    WriteAt(off + done, block.data(), got);
    done += got;
    if (got < want) break;
  }
  return done;
}

namespace {

[[noreturn]] void FailErrno(const std::string& what, const std::string& path) {
  int e = errno;
  ErrorCode code = ErrorCode::kIo;
  if (e == ENOENT) code = ErrorCode::kNotFound;
  if (e == ENOSPC || e == EDQUOT) code = ErrorCode::kDiskFull;
  Fail(code, what + " \"" + path + "\": " + std::strerror(e));
}

class PosixFile final : public File {
 public:
  PosixFile(std::string path, int fd, bool writable)
      : File(std::move(path)), fd_(fd), writable_(writable) {}
  ~PosixFile() override {
    if (map_) ::munmap(map_, map_len_);
    ::close(fd_);
  }

  size_t ReadAt(uint64_t off, void* buf, size_t n) override {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
      ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(off + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        FailErrno("Cannot read", path());
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return done;
  }

  void WriteAt(uint64_t off, const void* buf, size_t n) override {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
      ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(off + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        FailErrno("Cannot write", path());
      }
      done += static_cast<size_t>(r);
    }
  }

  int CopyDescriptor() override { return fd_; }

  uint64_t CopyFrom(File& source, uint64_t off, uint64_t n) override {
    const int in = source.CopyDescriptor();
    uint64_t done = 0;
    while (in >= 0 && done < n) {
      loff_t from = static_cast<loff_t>(off + done), to = from;
      const ssize_t r = ::copy_file_range(in, &from, fd_, &to, n - done, 0);
      if (r < 0) {
        if (errno == EINTR) continue;
        // Across file systems or where the system has no such copy: the
        // bytes go through a buffer instead.
        if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
            errno == EBADF || errno == ETXTBSY)
          break;
        FailErrno("Cannot write", path());
      }
      if (r == 0) return done;  // the end of the source
      done += static_cast<uint64_t>(r);
    }
    return done + File::CopyFrom(source, off + done, n - done);
  }

  uint64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) FailErrno("Cannot read the size of", path());
    return static_cast<uint64_t>(st.st_size);
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) FailErrno("Cannot truncate", path());
  }

  void Sync() override {
    if (::fdatasync(fd_) != 0) FailErrno("Cannot flush", path());
  }

  bool TryLock(uint64_t off, uint64_t len, bool exclusive) override {
    struct flock fl = MakeLock(off, len, exclusive ? F_WRLCK : F_RDLCK);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    FailErrno("Cannot lock", path());
  }

  void Lock(uint64_t off, uint64_t len, bool exclusive) override {
    struct flock fl = MakeLock(off, len, exclusive ? F_WRLCK : F_RDLCK);
    while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
      if (errno != EINTR) FailErrno("Cannot lock", path());
    }
  }

  void Unlock(uint64_t off, uint64_t len) override {
    struct flock fl = MakeLock(off, len, F_UNLCK);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) FailErrno("Cannot unlock", path());
  }

  int64_t ModifiedNs() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) FailErrno("Cannot read the state of", path());
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }

  Status Stat() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) FailErrno("Cannot read the state of", path());
    return Status{static_cast<uint64_t>(st.st_size),
                  static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }

  uint8_t* MapStart(size_t n) override {
    if (!map_tried_) {
      map_tried_ = true;
      struct stat st;
      if (n > 0 && MapsCoherently() && ::fstat(fd_, &st) == 0 &&
          static_cast<uint64_t>(st.st_size) >= n) {
        void* p = ::mmap(nullptr, n, PROT_READ | (writable_ ? PROT_WRITE : 0), MAP_SHARED, fd_, 0);
        // A mapping holds the open file description, and with it our locks:
        // like the descriptor (O_CLOEXEC), a forked child must not inherit it.
        if (p != MAP_FAILED && ::madvise(p, n, MADV_DONTFORK) != 0) ::munmap(p, n), p = MAP_FAILED;
        if (p != MAP_FAILED) map_ = p, map_len_ = n;  // else the engine reads and writes
      }
    }
    return map_ && map_len_ >= n ? static_cast<uint8_t*>(map_) : nullptr;
  }

 private:
  // File systems whose shared mappings are the page cache that reads and
  // writes use, and whose stores into blocks already written allocate
  // nothing (so cannot fail for want of space). Not XFS: a block it shares
  // with a copy (cp makes such copies) is copied on the first store, and a
  // full disk would stop the process there instead of failing a write.
  bool MapsCoherently() {
    struct statfs fs;
    if (::fstatfs(fd_, &fs) != 0) return false;
    constexpr long kExt = 0xEF53, kTmpfs = 0x01021994;
    long type = static_cast<long>(fs.f_type);
    return type == kExt || type == kTmpfs;
  }

  static struct flock MakeLock(uint64_t off, uint64_t len, short type) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(off);
    fl.l_len = static_cast<off_t>(len);
    fl.l_pid = 0;  // required by OFD locks
    return fl;
  }

  int fd_;
  bool writable_;
  bool map_tried_ = false;  // the first MapStart decides, once
  void* map_ = nullptr;
  size_t map_len_ = 0;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kReadOnly:
        flags |= O_RDONLY;
        break;
      case OpenMode::kReadWrite:
        flags |= O_RDWR;
        break;
      case OpenMode::kCreateTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) FailErrno("Cannot open", path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      Fail(ErrorCode::kIo, "\"" + path + "\" is a directory, not a file");
    }
    return std::make_unique<PosixFile>(path, fd, mode != OpenMode::kReadOnly);
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) FailErrno("Cannot rename to", to);
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) FailErrno("Cannot delete", path);
  }

  void SyncDir(const std::string& path) override {
    std::string dir = DirOf(path);
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // best effort: some file systems refuse directory handles
    ::fsync(fd);
    ::close(fd);
  }
};

}  // namespace

Env& Env::Default() {
  static PosixEnv env;
  return env;
}

void TodayHeaderDate(uint8_t* out) {
  thread_local std::time_t last = -1;
  thread_local uint8_t today[3];
  std::time_t now = std::time(nullptr);
  if (now != last) {
    std::tm tm{};
    localtime_r(&now, &tm);
    today[0] = static_cast<uint8_t>(std::clamp(tm.tm_year, 0, 255));
    today[1] = static_cast<uint8_t>(tm.tm_mon + 1);
    today[2] = static_cast<uint8_t>(tm.tm_mday);
    last = now;
  }
  std::memcpy(out, today, 3);
}

std::string DirOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FindFileNoCase(const std::string& dir, const std::string& name) {
  std::string exact = dir + name;
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      std::string candidate = dir + e->d_name;
      if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        found = candidate;
        break;
      }
    }
  }
  ::closedir(d);
  return found;
}

std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> out;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) out.push_back(dir + e->d_name);
  }
  ::closedir(d);
  return out;
}

void ReplaceFile(Env& env, const std::string& path, const std::function<void(File&)>& write) {
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  try {
    {
      std::unique_ptr<File> file = env.Open(temp, OpenMode::kCreateTruncate);
      write(*file);
      file->Sync();
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) ::chmod(temp.c_str(), st.st_mode & 07777);
    env.Rename(temp, path);
  } catch (...) {
    try {
      env.Remove(temp);
    } catch (const Error&) {
      // Only the temporary file is left behind; the file itself is intact.
    }
    throw;
  }
}

}  // namespace klv::base
