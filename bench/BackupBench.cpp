// Backup, restore, pack and index rebuild of a 1,000,000-row coin table,
// each beside a baseline measured in the same run:
// - backup and restore of the database's files (the program's copy:
//   temporary file, sync, size check, rename) beside `cp` of the same files
//   followed by `sync`;
// - pack of the table with 10% of its rows deleted beside writing the kept
//   bytes alone (one pass over the file, the kept rows written out, synced);
// - Rebuild Indexes (every tag regenerated) beside `klvdbf index` building
//   the same tag.
//   klv_backup_bench [--rows N] [--copy-only]   (tables are made in
//                    $KLV_BENCH_DIR/backup; --copy-only: backup and restore only)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <QString>

#include "backup/CopyRules.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"

namespace {

namespace fs = std::filesystem;
using klv::dbf::Table;

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

const char kSort[] = "Upper(Left(Country,80))";

void Make(const std::string& dir, const std::string& name, int rows, bool delete_tenth) {
  const std::string path = dir + "/" + name;
  Table::CreateTable(path, klv::db::CoinFieldDefs());
  Table t;
  t.SetDirectory(dir);
  t.SetTableName(name);
  t.Open();
  t.BeginAppendBatch();
  for (int i = 0; i < rows; ++i) {
    t.Append();
    t.FieldByName("Country").SetAsString("Country " + std::to_string((i * 7919) % 100000));
    t.FieldByName("Descriptio")
        .SetAsString("A coin described at some length, number " + std::to_string(i));
    t.FieldByName("Quantity").SetAsInteger(i % 50);
    t.Post();
  }
  t.EndAppendBatch();
  t.AddIndex("NewIndex", kSort);
  if (delete_tenth) {
    t.SetIndexName("");
    for (uint32_t r = 1; r <= static_cast<uint32_t>(rows); r += 10) {
      t.GoTo(r);
      t.Delete();
    }
  }
}

// The least the pack must do: read the table once and write the header
// and the kept rows to a new file, synced.
double RawKeptWrite(const std::string& path, const std::string& out_path) {
  const double t0 = Now();
  std::ifstream in(path, std::ios::binary);
  std::vector<char> head(32);
  in.read(head.data(), 32);
  const uint16_t header_len = static_cast<uint8_t>(head[8]) | static_cast<uint8_t>(head[9]) << 8;
  const uint16_t record_len = static_cast<uint8_t>(head[10]) | static_cast<uint8_t>(head[11]) << 8;
  head.resize(header_len);
  in.read(head.data() + 32, header_len - 32);
  FILE* out = std::fopen(out_path.c_str(), "wb");
  std::fwrite(head.data(), 1, head.size(), out);
  std::vector<char> block(static_cast<size_t>(record_len) * 4096);
  std::vector<char> kept;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t n = static_cast<size_t>(in.gcount()) / record_len;
    kept.clear();
    for (size_t i = 0; i < n; ++i) {
      const char* rec = block.data() + i * record_len;
      if (rec[0] != '*') kept.insert(kept.end(), rec, rec + record_len);
    }
    std::fwrite(kept.data(), 1, kept.size(), out);
  }
  std::fputc(0x1A, out);
  std::fflush(out);
  fsync(fileno(out));
  std::fclose(out);
  return Now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 1000000;
  bool copy_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rows" && i + 1 < argc) rows = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--copy-only") copy_only = true;
  }
  const char* env = std::getenv("KLV_BENCH_DIR");
  const std::string root = std::string(env && *env ? env : "/tmp/klv-bench") + "/backup";
  const std::string src = root + "/src", dst = root + "/dst", pack = root + "/pack";
  fs::remove_all(root);
  for (const std::string& d : {src, dst, pack}) fs::create_directories(d);

  std::printf("making a table of %d rows...\n", rows);
  Make(src, "MASTER.DBF", rows, false);
  const std::string table = src + "/MASTER.DBF";
  const double mib = static_cast<double>(fs::file_size(table)) / (1024 * 1024);
  std::printf("table: %.1f MiB\n", mib);

  // Backup and restore of the database's files (the table and its index),
  // each beside cp + sync of the same files; the median of five runs of
  // each, taken in turn, so that neither finds the page cache warmer.
  const std::vector<std::string> files = {"MASTER.DBF", "MASTER.MDX"};
  const auto cp_sync = [&](const std::string& from, const std::string& to) {
    const double start = Now();
    std::string command = "cp";
    for (const std::string& f : files) command += " '" + from + "/" + f + "'";
    command += " '" + to + "/' && sync";
    for (const std::string& f : files) command += " '" + to + "/" + f + "'";
    Run(command);
    return Now() - start;
  };
  const auto program_copy = [&](const std::string& from, const std::string& to) {
    const double start = Now();
    for (const std::string& f : files)
      if (!klv::backup::CopyFile(klv::dbf::Env::Default(), QString::fromStdString(from + "/" + f),
                                 QString::fromStdString(to + "/" + f)))
        std::exit(1);
    return Now() - start;
  };
  const std::string cp_dir = root + "/cp";
  fs::create_directories(cp_dir);
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::vector<double> cps, backups, restores;
  for (int run = 0; run < 5; ++run) {
    cps.push_back(cp_sync(src, cp_dir));
    backups.push_back(program_copy(src, dst));
    restores.push_back(program_copy(dst, src));
  }
  for (int run = 0; run < 5; ++run)
    std::printf("  run %d: cp+sync %.3f s, backup %.3f s, restore %.3f s\n", run + 1,
                cps[static_cast<size_t>(run)], backups[static_cast<size_t>(run)],
                restores[static_cast<size_t>(run)]);
  const double cp = median(cps), backup = median(backups), restore = median(restores);
  double files_mib = 0;
  for (const std::string& f : files)
    files_mib += static_cast<double>(fs::file_size(src + "/" + f)) / (1024 * 1024);
  std::printf("database files: %.1f MiB\n", files_mib);
  std::printf("backup  %8.3f s   cp+sync %8.3f s   %.2fx   (%.0f MiB/s)\n", backup, cp, backup / cp,
              files_mib / backup);
  std::printf("restore %8.3f s   cp+sync %8.3f s   %.2fx   (%.0f MiB/s)\n", restore, cp,
              restore / cp, files_mib / restore);
  if (copy_only) {
    fs::remove_all(root);
    return 0;
  }

  double t0 = 0;
  // Pack of the table with a tenth of its rows deleted.
  Make(pack, "MASTER.DBF", rows, true);
  const std::string packed = pack + "/MASTER.DBF";
  const double raw = RawKeptWrite(packed, pack + "/RAW.DBF");
  {
    Table t;
    t.SetDirectory(pack);
    t.SetTableName("MASTER.DBF");
    t.SetExclusive(true);
    t.Open();
    t0 = Now();
    t.Pack();
    const double p = Now() - t0;
    std::printf("pack    %8.3f s   raw write of the kept rows %8.3f s   (%u rows kept)\n", p, raw,
                t.PhysicalCount());
  }

  // Rebuild Indexes beside klvdbf index of the same tag.
  {
    Table t;
    t.SetDirectory(pack);
    t.SetTableName("MASTER.DBF");
    t.SetExclusive(true);
    t.Open();
    t0 = Now();
    t.RegenerateIndexes();
    const double rebuild = Now() - t0;
    t.Close();
    t0 = Now();
    Run(std::string(KLV_KLVDBF_PATH) + " index '" + packed + "' NewIndex '" + kSort +
        "' > /dev/null");
    const double tool = Now() - t0;
    std::printf("rebuild %8.3f s   klvdbf index %8.3f s\n", rebuild, tool);
  }
  fs::remove_all(root);
  return 0;
}
