// Tests of the .MDX layer: the dBase-written sample, B-tree maintenance
// against an in-memory model, streamed rebuilds, tag bookkeeping, numeric
// keys, damaged files, the stamp protocol and injected I/O failures. Trees
// we write are also read back by Perl XBase's index_dump.
#include "db/dbf/Mdx.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/FaultEnv.h"
#include "db/dbf/Base.h"

#ifndef KLV_SAMPLES_DIR
#define KLV_SAMPLES_DIR "tests/data"
#endif

namespace klv::dbf {
namespace {

namespace fs = std::filesystem;

// A private temporary directory, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "mdxtest-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string SamplePath() {
  return std::string(KLV_SAMPLES_DIR) + "/dbase4-two-tags/TEST.MDX";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
uint32_t Get32(const std::string& b, size_t off) {
  return uint32_t(uint8_t(b[off])) | uint32_t(uint8_t(b[off + 1])) << 8 |
         uint32_t(uint8_t(b[off + 2])) << 16 | uint32_t(uint8_t(b[off + 3])) << 24;
}
void Put32(std::string& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

std::string Pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

std::vector<IndexEntry> WalkAll(MdxFile& mdx, int tag) {
  std::vector<IndexEntry> out;
  mdx.Walk(tag, [&](const IndexEntry& e) { out.push_back(e); });
  return out;
}
std::vector<uint32_t> Recnos(const std::vector<IndexEntry>& entries) {
  std::vector<uint32_t> r;
  for (const auto& e : entries) r.push_back(e.recno);
  return r;
}

// (key, recno) pairs as Perl XBase's index_dump lists them, in its order.
std::vector<std::pair<std::string, uint32_t>> IndexDump(const std::string& path,
                                                        const std::string& tag) {
  std::string cmd = "index_dump -n '" + path + "' " + tag + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  std::vector<std::pair<std::string, uint32_t>> rows;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("Total records", 0) == 0) continue;
    size_t sp = line.rfind(' ');
    if (sp == std::string::npos) {
      rows.emplace_back("unparsed: " + line, 0);
      continue;
    }
    rows.emplace_back(line.substr(0, sp), uint32_t(std::stoul(line.substr(sp + 1))));
  }
  return rows;
}

void ExpectCorrupt(const std::function<void()>& f, const std::string& path) {
  try {
    f();
    ADD_FAILURE() << "no error for a damaged index";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kCorruptIndex) << e.what();
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("page"), std::string::npos) << e.what();
  }
}

ErrorCode CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const DbfError& e) {
    return e.code();
  }
  return ErrorCode(0);
}

TagDef CharTag(const std::string& name, int len, bool descending = false) {
  TagDef d;
  d.name = name;
  d.expression = "UPPER(" + name + ")";
  d.type = KeyType::kChar;
  d.key_length = len;
  d.descending = descending;
  return d;
}
TagDef NumTag(const std::string& name) {
  TagDef d;
  d.name = name;
  d.expression = name;
  d.type = KeyType::kNumeric;
  d.key_length = 12;
  return d;
}

// ---------------------------------------------------------------------------

TEST(MdxSample, ReadsBothTagsBothWaysAndSeeks) {
  ScratchDir dir;
  std::string path = dir.File("TEST.MDX");
  fs::copy_file(SamplePath(), path);
  auto mdx = MdxFile::Open(Env::Default(), path, false);
  EXPECT_FALSE(mdx->Stamp().present);
  ASSERT_EQ(mdx->TagCount(), 2);
  int t1 = mdx->FindTag("test1");
  int t2 = mdx->FindTag("TEST2");
  ASSERT_EQ(t1, 0);
  ASSERT_EQ(t2, 1);
  EXPECT_EQ(mdx->Tag(t1).type, KeyType::kChar);
  EXPECT_EQ(mdx->Tag(t1).key_length, 50);
  EXPECT_EQ(mdx->Tag(t1).expression, "TEST1");
  EXPECT_EQ(mdx->Tag(t2).type, KeyType::kNumeric);
  EXPECT_EQ(mdx->Tag(t2).key_length, 12);

  EXPECT_EQ(Recnos(WalkAll(*mdx, t1)), (std::vector<uint32_t>{3, 1, 2}));
  auto by_value = WalkAll(*mdx, t2);
  EXPECT_EQ(Recnos(by_value), (std::vector<uint32_t>{1, 3, 2}));
  std::vector<double> values;
  for (const auto& e : by_value) values.push_back(DecodeNumericKey(e.key));
  EXPECT_EQ(values, (std::vector<double>{10, 15, 20}));
  // Our encoding reproduces the bytes the other program wrote.
  EXPECT_EQ(EncodeNumericKey(10), by_value[0].key);
  EXPECT_EQ(EncodeNumericKey(15), by_value[1].key);
  EXPECT_EQ(EncodeNumericKey(20), by_value[2].key);

  for (int tag : {t1, t2}) {
    std::vector<uint32_t> backward;
    for (auto e = mdx->Last(tag); e; e = mdx->SeekLT(tag, e->key, e->recno))
      backward.push_back(e->recno);
    auto forward = Recnos(WalkAll(*mdx, tag));
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, forward);
  }
  EXPECT_EQ(mdx->First(t1)->recno, 3u);
  EXPECT_EQ(mdx->SeekGE(t1, "test2", 0)->recno, 2u);  // a prefix of the padded key
  EXPECT_EQ(mdx->SeekGE(t1, Pad("test1", 50), 2)->recno, 2u);
  EXPECT_EQ(mdx->SeekLE(t1, "test2", 0)->recno, 1u);
  EXPECT_FALSE(mdx->SeekGT(t1, Pad("test2", 50), 2));
  EXPECT_EQ(mdx->SeekGE(t2, EncodeNumericKey(12), 0)->recno, 3u);
  EXPECT_EQ(mdx->SeekLT(t2, EncodeNumericKey(15), 3)->recno, 1u);
  EXPECT_FALSE(mdx->SeekGT(t2, EncodeNumericKey(20), 2));
  EXPECT_EQ(CodeOf([&] { mdx->BeginChange(); }), ErrorCode::kReadOnly);
}

TEST(MdxSample, AcceptsChangesThatIndexDumpReads) {
  ScratchDir dir;
  std::string path = dir.File("TEST.MDX");
  fs::copy_file(SamplePath(), path);
  {
    auto mdx = MdxFile::Open(Env::Default(), path, true);
    mdx->BeginChange();
    mdx->Insert(0, Pad("alpha", 50), 4);
    mdx->Insert(1, EncodeNumericKey(-5), 4);
    mdx->Insert(1, EncodeNumericKey(17.5), 5);
    mdx->Insert(0, Pad("test1", 50), 5);
    mdx->Remove(0, Pad("test2", 50), 2);
    mdx->EndChange(5);
  }
  auto mdx = MdxFile::Open(Env::Default(), path, false);
  EXPECT_TRUE(mdx->Stamp().present);
  EXPECT_EQ(mdx->Stamp().record_count, 5u);
  EXPECT_EQ(Recnos(WalkAll(*mdx, 0)), (std::vector<uint32_t>{3, 4, 1, 5}));
  EXPECT_EQ(Recnos(WalkAll(*mdx, 1)), (std::vector<uint32_t>{4, 1, 3, 5, 2}));
  std::vector<uint32_t> dumped;
  for (auto& row : IndexDump(path, "TEST1")) dumped.push_back(row.second);
  EXPECT_EQ(dumped, (std::vector<uint32_t>{3, 4, 1, 5}));
}

// ---------------------------------------------------------------------------

TEST(MdxKeys, NumericKeysRoundTripAndOrderBySign) {
  std::vector<double> values = {
      -1e12, -123456.789, -20,  -10, -1.5, -0.25, -1e-9, 0,   1e-9,   0.001, 0.1,
      0.5,   1,           9.99, 10,  10.5, 15,    99,    100, 123.45, 1e6,   123456789012345.0,
      1e40};
  for (double v : values) {
    std::string k = EncodeNumericKey(v);
    ASSERT_EQ(k.size(), 12u);
    EXPECT_DOUBLE_EQ(DecodeNumericKey(k), v) << v;
  }
  std::mt19937 rng(7);
  std::vector<double> shuffled = values;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  std::sort(shuffled.begin(), shuffled.end(), [](double a, double b) {
    return CompareKeys(KeyType::kNumeric, EncodeNumericKey(a), EncodeNumericKey(b)) < 0;
  });
  EXPECT_EQ(shuffled, values);
  EXPECT_EQ(CompareKeys(KeyType::kNumeric, EncodeNumericKey(2.50), EncodeNumericKey(2.5)), 0);
  // A zero that another writer stored with fewer declared digits is still zero.
  std::string zero(12, '\0');
  zero[0] = 0x34;
  zero[1] = 0x01;
  EXPECT_EQ(CompareKeys(KeyType::kNumeric, zero, EncodeNumericKey(0)), 0);
  EXPECT_EQ(CodeOf([] { EncodeNumericKey(std::nan("")); }), ErrorCode::kBadValue);
  EXPECT_EQ(CodeOf([] { EncodeNumericKey(1e300); }), ErrorCode::kOverflow);

  EXPECT_LT(CompareKeys(KeyType::kDate, EncodeDateKey(2451545), EncodeDateKey(2460000)), 0);
  EXPECT_GT(CompareKeys(KeyType::kDate, EncodeDateKey(2451545), EncodeDateKey(0)), 0);
  EXPECT_DOUBLE_EQ(DecodeDateKey(EncodeDateKey(2451545.5)), 2451545.5);
  EXPECT_LT(CompareKeys(KeyType::kChar, "AB", "ABC"), 0);
  EXPECT_GT(CompareKeys(KeyType::kChar, "\xE9", "z"), 0);  // bytes compare unsigned
}

// ---------------------------------------------------------------------------

// Entries of one tag in the tag's own order, for comparison.
struct Model {
  KeyType type;
  bool descending;
  bool operator()(const IndexEntry& a, const IndexEntry& b) const {
    int c = CompareKeys(type, a.key, b.key);
    if (descending) c = -c;
    return c != 0 ? c < 0 : a.recno < b.recno;
  }
};
using ModelSet = std::set<IndexEntry, Model>;

void ExpectMatches(MdxFile& mdx, int tag, const ModelSet& model, const std::string& path,
                   bool dump) {
  auto walked = WalkAll(mdx, tag);
  ASSERT_EQ(walked.size(), model.size());
  EXPECT_EQ(mdx.KeyCount(tag), model.size());
  size_t i = 0;
  for (const auto& e : model) {
    ASSERT_EQ(walked[i].key, e.key) << "at " << i;
    ASSERT_EQ(walked[i].recno, e.recno) << "at " << i;
    ++i;
  }
  if (dump) {
    auto rows = IndexDump(path, mdx.Tag(tag).name);
    ASSERT_EQ(rows.size(), walked.size());
    for (size_t j = 0; j < rows.size(); ++j) {
      ASSERT_EQ(rows[j].second, walked[j].recno) << "index_dump row " << j;
      if (mdx.Tag(tag).type == KeyType::kChar) {
        ASSERT_EQ(rows[j].first, walked[j].key);
      }
    }
  }
}

void ExpectSeeksMatch(MdxFile& mdx, int tag, const ModelSet& model, std::mt19937& rng,
                      const std::vector<std::string>& probes) {
  auto same = [](const std::optional<IndexEntry>& got, ModelSet::const_iterator it,
                 const ModelSet& m) {
    if (it == m.end()) return !got.has_value();
    return got && got->key == it->key && got->recno == it->recno;
  };
  for (int n = 0; n < 200; ++n) {
    IndexEntry probe{probes[rng() % probes.size()], uint32_t(rng() % 5000)};
    auto ge = model.lower_bound(probe);
    auto gt = model.upper_bound(probe);
    EXPECT_TRUE(same(mdx.SeekGE(tag, probe.key, probe.recno), ge, model));
    EXPECT_TRUE(same(mdx.SeekGT(tag, probe.key, probe.recno), gt, model));
    EXPECT_TRUE(same(mdx.SeekLT(tag, probe.key, probe.recno),
                     ge == model.begin() ? model.end() : std::prev(ge), model));
    EXPECT_TRUE(same(mdx.SeekLE(tag, probe.key, probe.recno),
                     gt == model.begin() ? model.end() : std::prev(gt), model));
  }
}

TEST(MdxTree, RandomInsertsAndRemovesMatchModel) {
  ScratchDir dir;
  std::string path = dir.File("RAND.MDX");
  auto mdx = MdxFile::Create(Env::Default(), path, "rand");
  mdx->SetCacheLimit(8);  // evictions inside changes, too
  mdx->BeginChange();
  int name = mdx->AddTag(CharTag("NAME", 48));
  int desc = mdx->AddTag(CharTag("CODE", 6, true));
  int value = mdx->AddTag(NumTag("VALUE"));
  mdx->EndChange(0);

  std::vector<ModelSet> models = {ModelSet(Model{KeyType::kChar, false}),
                                  ModelSet(Model{KeyType::kChar, true}),
                                  ModelSet(Model{KeyType::kNumeric, false})};
  std::map<uint32_t, std::vector<std::string>> records;
  std::mt19937 rng(12345);
  std::vector<std::string> names, codes, numbers;
  for (int i = 0; i < 150; ++i) names.push_back(Pad("N" + std::to_string(rng() % 100000), 48));
  for (int i = 0; i < 40; ++i) codes.push_back(Pad(std::to_string(rng() % 1000), 6));
  for (int i = 0; i < 300; ++i)
    numbers.push_back(EncodeNumericKey((int(rng() % 20001) - 10000) / 4.0));
  const std::vector<std::string>* pools[] = {&names, &codes, &numbers};

  uint32_t next_recno = 1;
  auto step = [&](bool grow) {
    bool insert = records.empty() || (rng() % 100) < (grow ? 75u : 25u);
    if (insert) {
      uint32_t r = next_recno++;
      std::vector<std::string> keys;
      for (int t = 0; t < 3; ++t) {
        keys.push_back((*pools[t])[rng() % pools[t]->size()]);
        mdx->Insert(t, keys.back(), r);
        models[size_t(t)].insert(IndexEntry{keys.back(), r});
      }
      records[r] = keys;
    } else {
      auto it = records.begin();
      std::advance(it, rng() % records.size());
      for (int t = 0; t < 3; ++t) {
        mdx->Remove(t, it->second[size_t(t)], it->first);
        models[size_t(t)].erase(IndexEntry{it->second[size_t(t)], it->first});
      }
      records.erase(it);
    }
  };
  for (int round = 0; round < 8; ++round) {
    mdx->BeginChange();
    for (int i = 0; i < 1000; ++i) step(round < 5);
    mdx->EndChange(uint32_t(records.size()));
    for (int t = 0; t < 3; ++t)
      ExpectMatches(*mdx, t, models[size_t(t)], path, round == 4 || round == 7);
    for (int t = 0; t < 3; ++t) ExpectSeeksMatch(*mdx, t, models[size_t(t)], rng, *pools[t]);
  }
  EXPECT_GT(models[0].size(), 500u);  // several levels at 19 keys per block

  // Empty the tree completely, then fill it again: freed blocks are reused.
  uint64_t size_full = fs::file_size(path);
  mdx->BeginChange();
  for (auto& [r, keys] : records) {
    for (int t = 0; t < 3; ++t) mdx->Remove(t, keys[size_t(t)], r);
  }
  EXPECT_EQ(CodeOf([&] { mdx->Remove(name, names[0], 1); }), ErrorCode::kKeyNotFound);
  mdx->EndChange(0);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(mdx->KeyCount(t), 0u);
  EXPECT_FALSE(mdx->First(desc));
  EXPECT_FALSE(mdx->Last(value));
  mdx->BeginChange();
  for (auto& [r, keys] : records) {
    for (int t = 0; t < 3; ++t) mdx->Insert(t, keys[size_t(t)], r);
  }
  mdx->EndChange(uint32_t(records.size()));
  EXPECT_EQ(fs::file_size(path), size_full);
  for (int t = 0; t < 3; ++t) ExpectMatches(*mdx, t, models[size_t(t)], path, t == 0);

  // Reopened, the same trees.
  mdx.reset();
  mdx = MdxFile::Open(Env::Default(), path, false);
  for (int t = 0; t < 3; ++t) ExpectMatches(*mdx, t, models[size_t(t)], path, false);
}

TEST(MdxTree, ManyDuplicatesOfOneKey) {
  ScratchDir dir;
  std::string path = dir.File("DUP.MDX");
  auto mdx = MdxFile::Create(Env::Default(), path, "dup");
  mdx->BeginChange();
  int tag = mdx->AddTag(CharTag("BLANK", 20));
  ModelSet model(Model{KeyType::kChar, false});
  std::mt19937 rng(5);
  std::vector<uint32_t> recnos(3000);
  for (uint32_t i = 0; i < recnos.size(); ++i) recnos[i] = i + 1;
  std::shuffle(recnos.begin(), recnos.end(), rng);
  std::string blank(20, ' ');
  for (uint32_t r : recnos) {
    std::string key = r % 10 == 0 ? Pad("Z", 20) : blank;
    mdx->Insert(tag, key, r);
    model.insert(IndexEntry{key, r});
  }
  EXPECT_EQ(CodeOf([&] { mdx->Insert(tag, blank, recnos[0] % 10 ? recnos[0] : recnos[1]); }),
            ErrorCode::kBadState);
  for (size_t i = 0; i < recnos.size(); i += 3) {
    std::string key = recnos[i] % 10 == 0 ? Pad("Z", 20) : blank;
    mdx->Remove(tag, key, recnos[i]);
    model.erase(IndexEntry{key, recnos[i]});
  }
  mdx->EndChange(3000);
  ExpectMatches(*mdx, tag, model, path, true);
  std::vector<std::string> probes = {blank, Pad("Z", 20), "", "A"};
  ExpectSeeksMatch(*mdx, tag, model, rng, probes);
}

// ---------------------------------------------------------------------------

TEST(MdxRebuild, StreamsSortedEntriesThenTakesInserts) {
  ScratchDir dir;
  std::string path = dir.File("BIG.MDX");
  auto mdx = MdxFile::Create(Env::Default(), path, "big");
  mdx->BeginChange();
  int tag = mdx->AddTag(CharTag("COUNTRY", 48));
  ModelSet model(Model{KeyType::kChar, false});
  char buf[64];
  for (uint32_t i = 0; i < 50000; ++i) {
    std::snprintf(buf, sizeof buf, "K%07u", i / 2);  // pairs of duplicates
    model.insert(IndexEntry{Pad(buf, 48), i + 1});
  }
  {
    auto b = mdx->Rebuild(tag);
    for (const auto& e : model) b->Add(e.key, e.recno);
    b->Finish();
  }
  mdx->EndChange(50000);
  ExpectMatches(*mdx, tag, model, path, true);
  // Full leaves: 50,000 / 19 blocks and a few interior ones.
  EXPECT_LT(fs::file_size(path), (50000 / 19 + 200) * 1024 + 4096);

  std::mt19937 rng(99);
  mdx->BeginChange();
  for (uint32_t i = 0; i < 3000; ++i) {
    std::snprintf(buf, sizeof buf, "K%07u", unsigned(rng() % 30000));
    IndexEntry e{Pad(buf, 48), 50001 + i};
    mdx->Insert(tag, e.key, e.recno);
    model.insert(e);
  }
  mdx->EndChange(53000);
  ExpectMatches(*mdx, tag, model, path, true);

  // A rebuild replaces the content and gives the old blocks back.
  uint64_t before = fs::file_size(path);
  mdx->BeginChange();
  {
    auto b = mdx->Rebuild(tag);
    for (const auto& e : model) b->Add(e.key, e.recno);
    EXPECT_EQ(CodeOf([&] { b->Add(Pad("A", 48), 1); }), ErrorCode::kBadState);
    b->Finish();
  }
  mdx->EndChange(53000);
  EXPECT_EQ(fs::file_size(path), before);
  ExpectMatches(*mdx, tag, model, path, false);

  // Building 100,000 keys: timed for the report, generous bound for CI.
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < 100000; ++i) {
    std::snprintf(buf, sizeof buf, "L%07u", i);
    keys.push_back(Pad(buf, 48));
  }
  mdx->BeginChange();
  auto start = std::chrono::steady_clock::now();
  {
    auto b = mdx->Rebuild(tag);
    for (uint32_t i = 0; i < keys.size(); ++i) b->Add(keys[i], i + 1);
    b->Finish();
  }
  mdx->EndChange(100000);
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ info ] rebuild of 100000 keys of 48 bytes: %.1f ms\n", ms);
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(mdx->KeyCount(tag), 100000u);
  EXPECT_EQ(mdx->First(tag)->key, keys.front());
  EXPECT_EQ(mdx->Last(tag)->key, keys.back());
  EXPECT_EQ(mdx->SeekGE(tag, keys[77777], 0)->recno, 77778u);

  // Scroll positions follow the rank.
  for (double f : {0.0, 0.1, 0.5, 0.9, 1.0}) {
    auto e = mdx->AtFraction(tag, f);
    ASSERT_TRUE(e);
    double rank = (e->recno - 1) / 100000.0;
    EXPECT_NEAR(rank, f, 0.03);
    EXPECT_NEAR(mdx->Fraction(tag, e->key, e->recno), rank, 0.03);
  }
}

TEST(MdxRebuild, UnfinishedRebuildLeavesIndexDirty) {
  ScratchDir dir;
  std::string path = dir.File("HALF.MDX");
  auto mdx = MdxFile::Create(Env::Default(), path, "half");
  mdx->BeginChange();
  int tag = mdx->AddTag(CharTag("A", 10));
  mdx->EndChange(0);
  mdx->BeginChange();
  {
    auto b = mdx->Rebuild(tag);
    b->Add(Pad("x", 10), 1);
    EXPECT_EQ(CodeOf([&] { mdx->EndChange(1); }), ErrorCode::kBadState);  // still building
    EXPECT_EQ(CodeOf([&] { mdx->First(tag); }), ErrorCode::kBadState);
  }
  EXPECT_EQ(CodeOf([&] { mdx->EndChange(1); }), ErrorCode::kBadState);
  EXPECT_TRUE(MdxFile::Open(Env::Default(), path, false)->Stamp().dirty);
}

// ---------------------------------------------------------------------------

// Checks the tag table's name tree: an in-order walk gives the names sorted,
// parents match children, and every tag is reached once.
void ExpectNameTree(const std::string& path) {
  std::string b = ReadAll(path);
  int used = uint8_t(b[28]) | uint8_t(b[29]) << 8;
  auto entry = [&](int i) { return size_t(544 + 32 * (i - 1)); };
  auto name = [&](int i) { return std::string(b.c_str() + entry(i) + 4); };
  int root = 0;
  for (int i = 1; i <= used; ++i) {
    if (b[entry(i) + 18] == 0) {
      EXPECT_EQ(root, 0) << "two roots";
      root = i;
    }
  }
  std::vector<std::string> inorder;
  std::function<void(int, int)> visit = [&](int i, int parent) {
    if (i == 0) return;
    ASSERT_LE(i, used);
    EXPECT_EQ(uint8_t(b[entry(i) + 18]), parent);
    visit(uint8_t(b[entry(i) + 16]), i);
    inorder.push_back(name(i));
    visit(uint8_t(b[entry(i) + 17]), i);
  };
  visit(root, 0);
  std::vector<std::string> sorted = inorder;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(int(inorder.size()), used);
  EXPECT_EQ(inorder, sorted);
}

TEST(MdxTags, AddAndDeleteKeepTableAndReuseBlocks) {
  ScratchDir dir;
  std::string path = dir.File("TAGS.MDX");
  auto mdx = MdxFile::Create(Env::Default(), path, "coins");
  EXPECT_EQ(ReadAll(path).substr(4, 6), std::string("COINS\0", 6));
  mdx->BeginChange();
  for (std::string n : {"MIDDLE", "ALPHA", "ZULU", "BRAVO", "YANKEE", "CHARLIE"})
    mdx->AddTag(CharTag(n, 30));
  EXPECT_EQ(CodeOf([&] { mdx->AddTag(CharTag("alpha", 10)); }), ErrorCode::kBadDefinition);
  EXPECT_EQ(CodeOf([&] { mdx->AddTag(CharTag("WIDE", 101)); }), ErrorCode::kBadDefinition);
  EXPECT_EQ(CodeOf([&] { mdx->AddTag(CharTag("9BAD", 10)); }), ErrorCode::kBadDefinition);
  for (int t = 0; t < mdx->TagCount(); ++t) {
    for (uint32_t r = 1; r <= 400; ++r) mdx->Insert(t, Pad(std::to_string(r * 7919 % 1000), 30), r);
  }
  mdx->EndChange(400);
  ExpectNameTree(path);
  uint64_t full_size = fs::file_size(path);

  mdx->BeginChange();
  mdx->DeleteTag(mdx->FindTag("bravo"));
  mdx->DeleteTag(0);  // MIDDLE, the root of the name tree
  mdx->EndChange(400);
  ExpectNameTree(path);
  ASSERT_EQ(mdx->TagCount(), 4);
  EXPECT_EQ(mdx->Tag(0).name, "ALPHA");
  EXPECT_EQ(mdx->FindTag("BRAVO"), -1);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(mdx->KeyCount(t), 400u);
    EXPECT_EQ(IndexDump(path, mdx->Tag(t).name).size(), 400u);
  }

  mdx->BeginChange();
  for (std::string n : {"DELTA", "ECHO"}) {
    int t = mdx->AddTag(CharTag(n, 30));
    for (uint32_t r = 1; r <= 400; ++r) mdx->Insert(t, Pad(std::to_string(r * 7919 % 1000), 30), r);
  }
  mdx->EndChange(400);
  EXPECT_EQ(fs::file_size(path), full_size);  // the deleted tags' blocks, reused
  ExpectNameTree(path);
  mdx.reset();
  mdx = MdxFile::Open(Env::Default(), path, false);
  EXPECT_EQ(mdx->TagCount(), 6);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(mdx->KeyCount(t), 400u) << mdx->Tag(t).name;
}

TEST(MdxTags, TableHoldsFortySevenTags) {
  ScratchDir dir;
  auto mdx = MdxFile::Create(Env::Default(), dir.File("FULL.MDX"), "full");
  mdx->BeginChange();
  for (int i = 0; i < 47; ++i) mdx->AddTag(CharTag("T" + std::to_string(i), 8));
  EXPECT_EQ(CodeOf([&] { mdx->AddTag(CharTag("ONEMORE", 8)); }), ErrorCode::kBadDefinition);
  mdx->EndChange(0);
  ExpectNameTree(dir.File("FULL.MDX"));
  EXPECT_EQ(MdxFile::Open(Env::Default(), dir.File("FULL.MDX"), false)->TagCount(), 47);
}

// ---------------------------------------------------------------------------

// A tag "K" of 48-byte keys holding n entries, written and closed.
std::string MakeIndex(const ScratchDir& dir, const std::string& name, uint32_t n) {
  std::string path = dir.File(name);
  auto mdx = MdxFile::Create(Env::Default(), path, "t");
  mdx->BeginChange();
  int tag = mdx->AddTag(CharTag("K", 48));
  auto b = mdx->Rebuild(tag);
  char buf[32];
  for (uint32_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%06u", i);
    b->Add(Pad(buf, 48), i + 1);
  }
  b->Finish();
  b.reset();
  mdx->EndChange(n);
  return path;
}

uint32_t RootPage(const std::string& bytes) {
  return Get32(bytes, Get32(bytes, 544) * 512);
}

TEST(MdxDamage, EveryKindOfDamageIsReportedAsCorrupt) {
  ScratchDir dir;
  std::string path = MakeIndex(dir, "D.MDX", 2000);  // three levels
  const std::string good = ReadAll(path);
  const uint32_t root = RootPage(good);
  const uint32_t pages = Get32(good, 32);
  const uint32_t child = Get32(good, root * 512 + 8);
  const uint32_t leaf = Get32(good, child * 512 + 8);
  std::string key = Pad("000500", 48);
  auto all_reads = [&](MdxFile& m) {
    ExpectCorrupt([&] { m.Walk(0, [](const IndexEntry&) {}); }, path);
  };

  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    bool seek_fails;
  };
  std::vector<Case> cases = {
      {"child past the end", [&](std::string& b) { Put32(b, root * 512 + 8, pages + 100); }, true},
      {"child is a header page", [&](std::string& b) { Put32(b, root * 512 + 8, 2); }, true},
      {"interior loop", [&](std::string& b) { Put32(b, child * 512 + 8, root); }, true},
      {"key count too big", [&](std::string& b) { Put32(b, leaf * 512, 1000); }, true},
      {"keys out of order", [&](std::string& b) { b[leaf * 512 + 12] = 'z'; }, false},
      {"leaf reached twice", [&](std::string& b) { Put32(b, child * 512 + 8 + 52, leaf); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    c.damage(bad);
    WriteAll(path, bad);
    auto m = MdxFile::Open(Env::Default(), path, true);
    all_reads(*m);
    if (c.seek_fails) ExpectCorrupt([&] { m->SeekGE(0, std::string(48, ' '), 0); }, path);
    // Changes never crash either; whatever they do, they report damage.
    m->BeginChange();
    try {
      m->Insert(0, std::string(48, ' '), 9999);
      m->Remove(0, key, 501);
    } catch (const DbfError& e) {
      EXPECT_TRUE(e.code() == ErrorCode::kCorruptIndex || e.code() == ErrorCode::kKeyNotFound)
          << e.what();
    }
    m->AbandonChange();
  }

  WriteAll(path, good.substr(0, good.size() / 2));
  ExpectCorrupt([&] { MdxFile::Open(Env::Default(), path, false); }, path);
  std::string bad_root = good;
  Put32(bad_root, Get32(good, 544) * 512, pages + 2);
  WriteAll(path, bad_root);
  ExpectCorrupt([&] { MdxFile::Open(Env::Default(), path, false); }, path);
  WriteAll(path, good.substr(0, 100));
  EXPECT_EQ(CodeOf([&] { MdxFile::Open(Env::Default(), path, false); }), ErrorCode::kCorruptIndex);
}

// ---------------------------------------------------------------------------

TEST(MdxStamp, DirtyDuringChangeAndOtherCopiesSeeChanges) {
  ScratchDir dir;
  std::string path = dir.File("S.MDX");
  auto a = MdxFile::Create(Env::Default(), path, "s");
  EXPECT_TRUE(a->Stamp().present);
  EXPECT_FALSE(a->Stamp().dirty);
  a->BeginChange();
  int tag = a->AddTag(CharTag("NAME", 10));
  a->Insert(tag, Pad("b", 10), 1);
  EXPECT_TRUE(MdxFile::Open(Env::Default(), path, false)->Stamp().dirty);
  a->EndChange(1);
  auto disk = MdxFile::Open(Env::Default(), path, false)->Stamp();
  EXPECT_FALSE(disk.dirty);
  EXPECT_EQ(disk.record_count, 1u);
  uint32_t counter = disk.change_counter;

  auto b = MdxFile::Open(Env::Default(), path, true);
  EXPECT_EQ(a->First(tag)->recno, 1u);  // cached in a
  b->BeginChange();
  b->Insert(tag, Pad("a", 10), 2);
  b->Remove(tag, Pad("b", 10), 1);
  b->EndChange(2);
  a->Sync();
  EXPECT_EQ(a->Stamp().change_counter, counter + 1);
  EXPECT_EQ(a->Stamp().record_count, 2u);
  EXPECT_EQ(a->First(tag)->recno, 2u);
  EXPECT_EQ(a->KeyCount(tag), 1u);

  // A tag added elsewhere appears after Sync.
  b->BeginChange();
  b->AddTag(CharTag("OTHER", 4));
  b->EndChange(2);
  a->Sync();
  EXPECT_EQ(a->TagCount(), 2);

  EXPECT_EQ(CodeOf([&] { a->Insert(tag, Pad("c", 10), 3); }),
            ErrorCode::kBadState);  // no BeginChange
  a->BeginChange();
  EXPECT_EQ(CodeOf([&] { a->Insert(tag, "short", 3); }), ErrorCode::kBadValue);
  a->AbandonChange();
  EXPECT_TRUE(MdxFile::Open(Env::Default(), path, false)->Stamp().dirty);
}

// The end of a run shows to a copy that saw the run's kept mark even when
// the file's time and size stay as they were (the clock of file times is
// coarse: the last change of a run and its end often share one tick).
TEST(MdxStamp, EndOfARunShowsWithinOneTickOfFileTime) {
  ScratchDir dir;
  std::string path = dir.File("T.MDX");
  auto a = MdxFile::Create(Env::Default(), path, "t");
  a->BeginChange();
  int tag = a->AddTag(CharTag("NAME", 10));
  a->EndChange(0);
  auto reader = MdxFile::Open(Env::Default(), path, false);
  a->BeginChange(true);
  a->Insert(tag, Pad("a", 10), 1);
  a->EndChange(1, true);
  reader->Sync();
  ASSERT_TRUE(reader->Stamp().dirty && reader->Stamp().kept);
  const auto time = fs::last_write_time(path);
  const auto size = fs::file_size(path);
  a->FinishRun(1);
  ASSERT_EQ(fs::file_size(path), size);
  fs::last_write_time(path, time);
  reader->Sync();
  EXPECT_FALSE(reader->Stamp().dirty);
  EXPECT_FALSE(reader->Stamp().kept);
  EXPECT_EQ(reader->Stamp().record_count, 1u);
  EXPECT_EQ(reader->KeyCount(tag), 1u);
}

// A run of changes that keep the dirty mark: each change is complete on disk
// for other copies (which see it after Sync), the mark stays set and kept
// until FinishRun, and another copy's change ends the run for its holder.
TEST(MdxStamp, RunsKeepTheDirtyMarkButFinishEveryChange) {
  ScratchDir dir;
  std::string path = dir.File("R.MDX");
  auto a = MdxFile::Create(Env::Default(), path, "r");
  a->BeginChange();
  int tag = a->AddTag(CharTag("NAME", 10));
  a->EndChange(0);
  auto reader = MdxFile::Open(Env::Default(), path, false);
  uint32_t counter = reader->Stamp().change_counter;
  for (uint32_t r = 1; r <= 200; ++r) {
    a->Sync();
    a->BeginChange(true);
    a->Insert(tag, Pad(std::to_string(r * 37 % 101), 10), r);
    a->EndChange(r, true);
    EXPECT_TRUE(a->HoldsDirty());
    reader->Sync();
    MdxStamp st = reader->Stamp();
    ASSERT_TRUE(st.dirty && st.kept) << r;
    EXPECT_EQ(st.record_count, r);
    EXPECT_EQ(st.change_counter, counter + r);
    ASSERT_EQ(reader->KeyCount(tag), r);  // the tree on disk is whole after every change
  }
  // A change of the table alone leaves the run and the caches as they are.
  auto other = MdxFile::Open(Env::Default(), path, true);
  other->Sync();
  other->NoteTableChange();
  a->Sync();
  EXPECT_TRUE(a->HoldsDirty());
  EXPECT_EQ(a->Stamp().table_changes, other->Stamp().table_changes);
  a->FinishRun(200);
  EXPECT_FALSE(a->HoldsDirty());
  MdxStamp done = MdxFile::Open(Env::Default(), path, false)->Stamp();
  EXPECT_FALSE(done.dirty);
  EXPECT_EQ(done.record_count, 200u);

  // Another copy's change in the middle of a run ends it: its holder's next
  // change marks the file dirty again, and FinishRun leaves the other's stamp.
  a->BeginChange();
  a->Insert(tag, Pad("zz", 10), 201);
  a->EndChange(201, true);
  other->BeginChange();
  other->Insert(tag, Pad("aa", 10), 202);
  other->EndChange(202);
  a->Sync();
  EXPECT_FALSE(a->HoldsDirty());
  a->FinishRun(999);
  EXPECT_EQ(MdxFile::Open(Env::Default(), path, false)->Stamp().record_count, 202u);
  a->BeginChange(true);
  EXPECT_TRUE(MdxFile::Open(Env::Default(), path, false)->Stamp().dirty);
  EXPECT_FALSE(MdxFile::Open(Env::Default(), path, false)->Stamp().kept);
  a->Insert(tag, Pad("mm", 10), 203);
  a->EndChange(203);
  auto check = MdxFile::Open(Env::Default(), path, false);
  EXPECT_FALSE(check->Stamp().dirty);
  EXPECT_EQ(check->KeyCount(tag), 203u);
  // A process killed inside a kept run's change leaves the mark set.
  a->BeginChange();
  a->Insert(tag, Pad("nn", 10), 204);
  a->EndChange(204, true);
  a->BeginChange(true);
  a->Insert(tag, Pad("oo", 10), 205);
  a->AbandonChange();
  EXPECT_TRUE(MdxFile::Open(Env::Default(), path, false)->Stamp().dirty);
}

// ---------------------------------------------------------------------------

// Runs one change with the Nth write (or sync, truncate, rename) failing,
// for N = 1, 2, ... until it succeeds. After each failure the file on disk
// must either be marked dirty or hold exactly the state from before.
void RunFaultSweep(bool sticky) {
  ScratchDir dir;
  std::string path = MakeIndex(dir, "F.MDX", 300);
  {
    auto m = MdxFile::Open(Env::Default(), path, true);
    m->BeginChange();
    int old = m->AddTag(CharTag("OLD", 30));
    for (uint32_t r = 1; r <= 300; ++r) m->Insert(old, Pad(std::to_string(r * 31 % 97), 30), r);
    m->EndChange(300);
  }
  const std::string base = ReadAll(path);
  std::vector<uint32_t> before;
  {
    auto m = MdxFile::Open(Env::Default(), path, false);
    before = Recnos(WalkAll(*m, 0));
  }
  ModelSet expected(Model{KeyType::kChar, false});
  char buf[32];
  for (uint32_t i = 0; i < 300; ++i) {
    std::snprintf(buf, sizeof buf, "%06u", i);
    if (i % 3 != 0) expected.insert(IndexEntry{Pad(buf, 48), i + 1});
  }
  for (uint32_t i = 0; i < 400; ++i) {
    std::snprintf(buf, sizeof buf, "%06u", i * 7 % 1000);
    expected.insert(IndexEntry{Pad(buf, 48), 1000 + i});
  }

  bool done = false;
  int n = 1;
  for (; n < 2000 && !done; ++n) {
    SCOPED_TRACE("failing operation " + std::to_string(n));
    WriteAll(path, base);
    base::FaultEnv env(Env::Default());
    env.SetSticky(sticky);
    {
      auto m = MdxFile::Open(env, path, true);
      m->SetCacheLimit(6);  // blocks written one by one as they are evicted
      env.FailAt(n);
      try {
        m->BeginChange();
        for (uint32_t i = 0; i < 300; i += 3) {
          std::snprintf(buf, sizeof buf, "%06u", i);
          m->Remove(0, Pad(buf, 48), i + 1);
        }
        for (uint32_t i = 0; i < 400; ++i) {
          std::snprintf(buf, sizeof buf, "%06u", i * 7 % 1000);
          m->Insert(0, Pad(buf, 48), 1000 + i);
        }
        m->DeleteTag(m->FindTag("OLD"));
        int extra = m->AddTag(CharTag("EXTRA", 8));
        m->Insert(extra, Pad("x", 8), 1);
        m->EndChange(700);
      } catch (const DbfError& e) {
        EXPECT_TRUE(env.fired()) << e.what();
        m->AbandonChange();
      }
    }
    done = !env.fired();
    auto m = MdxFile::Open(Env::Default(), path, false);
    MdxStamp s = m->Stamp();
    if (done) {
      EXPECT_FALSE(s.dirty);
      EXPECT_EQ(s.record_count, 700u);
      ExpectMatches(*m, 0, expected, path, true);
      EXPECT_EQ(m->TagCount(), 2);
    } else if (!s.dirty) {
      EXPECT_EQ(s.record_count, 300u);
      EXPECT_EQ(ReadAll(path), base);
    } else {
      // Whatever a dirty index holds, reading it fails cleanly or not at all.
      for (int t = 0; t < m->TagCount(); ++t) {
        ErrorCode c = CodeOf([&] { m->Walk(t, [](const IndexEntry&) {}); });
        EXPECT_TRUE(c == ErrorCode(0) || c == ErrorCode::kCorruptIndex);
      }
    }
  }
  EXPECT_TRUE(done);
  EXPECT_GT(n, 50);  // the sweep went through many write points
  std::printf("[ info ] fault sweep: %d points\n", n);
}

TEST(MdxFaults, FailedWriteLeavesDirtyOrUnchangedFile) {
  RunFaultSweep(false);
}
TEST(MdxFaults, ProcessDeathLeavesDirtyOrUnchangedFile) {
  RunFaultSweep(true);
}

}  // namespace
}  // namespace klv::dbf
