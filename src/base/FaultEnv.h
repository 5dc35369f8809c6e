// An Env that forwards to another and fails the Nth mutating operation
// (write, truncate, sync, rename, remove, create) with an I/O error, as if the
// disk had failed or filled at that point. Used by the fault-injection tests:
// run an operation with N = 1, 2, ... until no fault fires, checking the table
// after each. Its files offer no shared view of their start (File::MapStart),
// so that every header write is a write that can fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/Env.h"

namespace klv::base {

class FaultEnv final : public Env {
 public:
  explicit FaultEnv(Env& base) : base_(base) {}

  // Fail the nth mutating operation from now (1 = the next); 0 = never.
  void FailAt(int64_t n) {
    countdown_ = n;
    fired_ = false;
  }
  bool fired() const { return fired_; }
  // When set, a fired fault also makes every later operation fail, as a
  // process that died at that point would do no more.
  void SetSticky(bool sticky) { sticky_ = sticky; }

  // Called by the wrapped files; throws when the countdown reaches zero.
  void Tick(const std::string& what);

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override { return base_.Exists(path); }
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  void SyncDir(const std::string& path) override { base_.SyncDir(path); }

 private:
  Env& base_;
  int64_t countdown_ = 0;
  bool fired_ = false;
  bool sticky_ = false;
};

}  // namespace klv::base
