// .MDX files come from any program. The input bytes are an index file, kept
// in memory: it is opened, every tag walked both ways and probed with seeks
// and scroll positions, then changed (inserts, removes, a rebuild, tag
// added and deleted) and read again. Every failure must be a DbfError.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/dbf/Base.h"
#include "db/dbf/Mdx.h"

namespace {

using klv::dbf::DbfError;
using klv::dbf::Env;
using klv::dbf::ErrorCode;
using klv::dbf::File;
using klv::dbf::IndexEntry;
using klv::dbf::KeyType;
using klv::dbf::MdxFile;
using klv::dbf::OpenMode;
using klv::dbf::TagDef;

using Bytes = std::shared_ptr<std::vector<uint8_t>>;

class MemFile final : public File {
 public:
  MemFile(std::string path, Bytes data, int64_t* clock)
      : File(std::move(path)), data_(std::move(data)), clock_(clock) {}
  size_t ReadAt(uint64_t off, void* buf, size_t n) override {
    if (off >= data_->size()) return 0;
    size_t got = std::min<uint64_t>(n, data_->size() - off);
    std::memcpy(buf, data_->data() + off, got);
    return got;
  }
  void WriteAt(uint64_t off, const void* buf, size_t n) override {
    if (off + n > (64u << 20)) klv::dbf::Fail(ErrorCode::kDiskFull, "in-memory file full");
    if (data_->size() < off + n) data_->resize(off + n);
    std::memcpy(data_->data() + off, buf, n);
    ++*clock_;
  }
  uint64_t Size() override { return data_->size(); }
  void Truncate(uint64_t size) override {
    if (size > (64u << 20)) klv::dbf::Fail(ErrorCode::kDiskFull, "in-memory file full");
    data_->resize(size);
    ++*clock_;
  }
  void Sync() override {}
  bool TryLock(uint64_t, uint64_t, bool) override { return true; }
  void Lock(uint64_t, uint64_t, bool) override {}
  void Unlock(uint64_t, uint64_t) override {}
  int64_t ModifiedNs() override { return *clock_; }

 private:
  Bytes data_;
  int64_t* clock_;
};

class MemEnv final : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    auto it = files_.find(path);
    if (mode == OpenMode::kCreateTruncate) {
      files_[path] = std::make_shared<std::vector<uint8_t>>();
      it = files_.find(path);
    } else if (it == files_.end()) {
      klv::dbf::Fail(ErrorCode::kNotFound, "no file " + path);
    }
    return std::make_unique<MemFile>(path, it->second, &clock_);
  }
  bool Exists(const std::string& path) override { return files_.count(path) > 0; }
  void Rename(const std::string& from, const std::string& to) override {
    files_[to] = files_.at(from);
    files_.erase(from);
  }
  void Remove(const std::string& path) override { files_.erase(path); }
  void SyncDir(const std::string&) override {}
  void Put(const std::string& path, const uint8_t* data, size_t size) {
    files_[path] = std::make_shared<std::vector<uint8_t>>(data, data + size);
  }

 private:
  std::map<std::string, Bytes> files_;
  int64_t clock_ = 1;
};

// Deterministic choices drawn from the input.
class Picker {
 public:
  Picker(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    uint32_t b = size_ ? data_[pos_++ % size_] : 0;
    return uint32_t(state_ >> 33) ^ b;
  }
  std::string Key(const TagDef& def) {
    size_t len = size_t(std::max(def.key_length, 0));
    if (def.type == KeyType::kNumeric)
      return klv::dbf::EncodeNumericKey(double(int(Next() % 2001) - 1000) / 8);
    if (def.type == KeyType::kDate) return klv::dbf::EncodeDateKey(2440000 + Next() % 30000);
    std::string k(len, ' ');
    for (size_t i = 0; i < len && i < 4; ++i) k[i] = char('A' + Next() % 8);
    return k;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const DbfError&) {
  }
}

void ReadAll(MdxFile& mdx, Picker& pick) {
  for (int tag = 0; tag < mdx.TagCount(); ++tag) {
    const TagDef& def = mdx.Tag(tag);
    Try([&] { mdx.Walk(tag, [](const IndexEntry&) {}); });
    Try([&] {
      int steps = 0;
      for (auto e = mdx.First(tag); e && steps < 64; e = mdx.SeekGT(tag, e->key, e->recno)) ++steps;
    });
    Try([&] {
      int steps = 0;
      for (auto e = mdx.Last(tag); e && steps < 64; e = mdx.SeekLT(tag, e->key, e->recno)) ++steps;
    });
    for (int i = 0; i < 4; ++i) {
      std::string key = pick.Key(def);
      uint32_t recno = pick.Next() % 100;
      Try([&] { mdx.SeekGE(tag, key, recno); });
      Try([&] { mdx.SeekLE(tag, key, recno); });
      Try([&] { mdx.Fraction(tag, key, recno); });
      Try([&] { mdx.AtFraction(tag, (pick.Next() % 1001) / 1000.0); });
    }
    Try([&] { mdx.SeekGE(tag, "", 0); });
  }
}

void Change(MdxFile& mdx, Picker& pick) {
  mdx.BeginChange();
  try {
    for (int tag = 0; tag < mdx.TagCount(); ++tag) {
      const TagDef def = mdx.Tag(tag);
      std::vector<IndexEntry> seen;
      Try([&] {
        mdx.Walk(tag, [&](const IndexEntry& e) {
          if (seen.size() < 8) seen.push_back(e);
        });
      });
      for (int i = 0; i < 24; ++i) {
        std::string key = pick.Key(def);
        Try([&] { mdx.Insert(tag, key, 1000 + pick.Next() % 5000); });
      }
      for (const IndexEntry& e : seen) Try([&] { mdx.Remove(tag, e.key, e.recno); });
      std::string key = pick.Key(def);
      Try([&] { mdx.Remove(tag, key, pick.Next()); });
      if (pick.Next() % 4 == 0) {
        Try([&] {
          auto b = mdx.Rebuild(tag);
          for (const IndexEntry& e : seen) b->Add(e.key, e.recno);
          b->Finish();
        });
      }
    }
    Try([&] {
      TagDef def;
      def.name = "FUZZ";
      def.expression = "UPPER(NAME)";
      def.key_length = 20;
      int tag = mdx.AddTag(def);
      for (int i = 0; i < 40; ++i) mdx.Insert(tag, pick.Key(def), uint32_t(i + 1));
    });
    if (mdx.TagCount() > 0 && pick.Next() % 2 == 0)
      Try([&] { mdx.DeleteTag(int(pick.Next() % mdx.TagCount())); });
    mdx.EndChange(42);
  } catch (const DbfError&) {
    mdx.AbandonChange();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemEnv env;
  const std::string path = "/fuzz/T.MDX";
  env.Put(path, data, size);
  Picker pick(data, size);
  try {
    auto mdx = MdxFile::Open(env, path, false);
    ReadAll(*mdx, pick);
  } catch (const DbfError&) {
    return 0;
  }
  try {
    auto mdx = MdxFile::Open(env, path, true);
    if (pick.Next() % 2) mdx->SetCacheLimit(4);
    Change(*mdx, pick);
    Try([&] { mdx->Sync(); });
    ReadAll(*mdx, pick);
    mdx.reset();
    auto again = MdxFile::Open(env, path, false);
    ReadAll(*again, pick);
  } catch (const DbfError&) {
  }
  return 0;
}
