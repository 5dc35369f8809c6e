#include "base/FaultEnv.h"

#include "base/Error.h"

namespace klv::base {
namespace {

class FaultFile final : public File {
 public:
  FaultFile(FaultEnv& env, std::unique_ptr<File> base)
      : File(base->path()), env_(env), base_(std::move(base)) {}

  size_t ReadAt(uint64_t off, void* buf, size_t n) override { return base_->ReadAt(off, buf, n); }
  void WriteAt(uint64_t off, const void* buf, size_t n) override {
    env_.Tick("write");
    base_->WriteAt(off, buf, n);
  }
  // The copy is a write: it can fail like one. It runs between the
  // wrapped files, so that the system's copy is what is tested.
  uint64_t CopyFrom(File& source, uint64_t off, uint64_t n) override {
    env_.Tick("write");
    auto* from = dynamic_cast<FaultFile*>(&source);
    return base_->CopyFrom(from ? *from->base_ : source, off, n);
  }
  uint64_t Size() override { return base_->Size(); }
  void Truncate(uint64_t size) override {
    env_.Tick("truncate");
    base_->Truncate(size);
  }
  void Sync() override {
    env_.Tick("sync");
    base_->Sync();
  }
  bool TryLock(uint64_t off, uint64_t len, bool ex) override {
    return base_->TryLock(off, len, ex);
  }
  void Lock(uint64_t off, uint64_t len, bool ex) override { base_->Lock(off, len, ex); }
  void Unlock(uint64_t off, uint64_t len) override { base_->Unlock(off, len); }
  int64_t ModifiedNs() override { return base_->ModifiedNs(); }
  Status Stat() override { return base_->Stat(); }

 private:
  FaultEnv& env_;
  std::unique_ptr<File> base_;
};

}  // namespace

void FaultEnv::Tick(const std::string& what) {
  if (fired_ && sticky_) Fail(ErrorCode::kIo, "Injected failure (after an earlier " + what + ")");
  if (countdown_ <= 0) return;
  if (--countdown_ == 0) {
    fired_ = true;
    Fail(ErrorCode::kIo, "Injected failure of a " + what);
  }
}

std::unique_ptr<File> FaultEnv::Open(const std::string& path, OpenMode mode) {
  if (mode == OpenMode::kCreateTruncate) Tick("create");
  return std::make_unique<FaultFile>(*this, base_.Open(path, mode));
}

void FaultEnv::Rename(const std::string& from, const std::string& to) {
  Tick("rename");
  base_.Rename(from, to);
}

void FaultEnv::Remove(const std::string& path) {
  Tick("remove");
  base_.Remove(path);
}

}  // namespace klv::base
