// File access for the engine and the settings files. All their I/O goes
// through Env and File so that tests can inject failures at the Nth
// operation (FaultEnv) and so that the locking scheme lives in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace klv::base {

enum class OpenMode { kReadOnly, kReadWrite, kCreateTruncate };

class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at off; returns the count read (short at end of file).
  virtual size_t ReadAt(uint64_t off, void* buf, size_t n) = 0;
  // Writes all n bytes at off or throws (kDiskFull when the device is full).
  virtual void WriteAt(uint64_t off, const void* buf, size_t n) = 0;
  virtual uint64_t Size() = 0;
  virtual void Truncate(uint64_t size) = 0;
  virtual void Sync() = 0;
  // Open-file-description byte-range locks: they conflict between any two
  // File objects, also two in one process. TryLock never waits.
  virtual bool TryLock(uint64_t off, uint64_t len, bool exclusive) = 0;
  // Waits until the lock is granted.
  virtual void Lock(uint64_t off, uint64_t len, bool exclusive) = 0;
  virtual void Unlock(uint64_t off, uint64_t len) = 0;
  // Modification stamp (nanoseconds) of the file as the system last saw it.
  virtual int64_t ModifiedNs() = 0;
  // Size and modification stamp at once (one system call where the two
  // would take two).
  struct Status {
    uint64_t size = 0;
    int64_t modified_ns = 0;
  };
  virtual Status Stat() { return Status{Size(), ModifiedNs()}; }
  // Copies up to n bytes of source, from off on, to the same place in this
  // file; returns the count copied (short at the end of source). The
  // system copies them without bringing them through the process where it
  // can (on one file system); otherwise they go through a buffer. Throws as
  // WriteAt does.
  virtual uint64_t CopyFrom(File& source, uint64_t off, uint64_t n);
  // The file's descriptor for the system's copy between two files, or -1.
  virtual int CopyDescriptor() { return -1; }
  // A view of the file's first n bytes that every other open of the file
  // shares, or nullptr. Loads and stores through it read and write the file
  // without a system call, for the header fields that every change reads
  // and writes; a store through it cannot fail, as the bytes are already on
  // the disk. Offered only where the file system keeps the view coherent
  // with other processes' reads and writes and never allocates for a store
  // (local ext2/3/4 and tmpfs; not network shares, nor file systems that
  // copy shared or all blocks on write), and only when the file holds n
  // bytes; writable when the file was opened for writing. The first call
  // decides; the view is valid as long as this File. Should another program
  // cut the file to nothing while it is open, a use of the view stops this
  // process (SIGBUS), as a kill would.
  virtual uint8_t* MapStart(size_t n) {
    (void)n;
    return nullptr;
  }
  // ReadAt and WriteAt of bytes within the first `view` bytes, through the
  // view of them (MapStart(view)) where the file has one.
  size_t ReadStart(size_t view, uint64_t off, void* buf, size_t n);
  void WriteStart(size_t view, uint64_t off, const void* buf, size_t n);
  const std::string& path() const { return path_; }

 protected:
  explicit File(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

class Env {
 public:
  virtual ~Env() = default;
  // Throws Error kNotFound or kIo.
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
  // Syncs the directory holding path, so a rename survives a crash.
  virtual void SyncDir(const std::string& path) = 0;

  // The process-wide environment on the real file system.
  static Env& Default();
};

// Replaces the file at path with the bytes write puts into a new file: they
// go to a temporary file beside it, which is synced, given the old file's
// permissions and renamed over it. When anything fails the temporary file is
// removed, the error rethrown and the old file left as it was. The caller
// syncs the directory afterwards (Env::SyncDir) to make the rename durable.
void ReplaceFile(Env& env, const std::string& path, const std::function<void(File&)>& write);

// Returns the path of an existing file in dir whose name equals name without
// regard to letter case (exact spelling preferred), or "" when there is none.
std::string FindFileNoCase(const std::string& dir, const std::string& name);

// The paths of the files in dir (with trailing '/', or "") whose names begin
// with prefix, in no particular order.
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix);

// Today's local date as dBase keeps it in a file header: years since 1900,
// month, day. Every change stamps a header, so the date is worked out again
// only when the clock has moved on by a second.
void TodayHeaderDate(uint8_t* out);

// Splits "dir/name.ext" helpers shared by the engine and its callers.
std::string DirOf(const std::string& path);   // "" for a bare name, else with trailing '/'
std::string BaseOf(const std::string& path);  // file name without directory

}  // namespace klv::base
