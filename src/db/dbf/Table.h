// A dBase III/IV table (.DBF) with its production index (.MDX), opened
// through a cursor. This is the engine's public face: bind, open, move,
// read and write fields, append/edit/post/delete, index tags, a filter
// callback, create, pack, regenerate and refresh.
//
// Promises:
// - Deleted rows are hidden from the cursor and from counts until a pack.
// - Several processes may share one table. Each open holds a lock: an
//   exclusive open fails (kInUse) while any other open exists, also one in
//   this process; appends and posts are serialised by a table write lock and
//   lose nothing; a row in edit is locked against every other open
//   (kRecordLocked); Refresh() shows what other opens have changed.
// - Crash safety: a record is written before the header count that covers
//   it, and every index change is bracketed by the index's dirty stamp, so a
//   killed process leaves a table that opens and an index that is either
//   right or reported as not matching (kIndexMismatch), never silently wrong.
// - Whole-file rewrites (create, pack) go to a temporary file renamed into place.
// - Open reads the header, the field descriptors and the index header only.
// - Bad files give a DbfError, never a crash or an out-of-bounds read.
// - Bytes past the last counted row are never a row: whenever the table's
//   write lock is free the end mark (0x1A) follows the counted rows, and
//   rows being appended are counted and given their live flag only after
//   they are complete. A process killed in an append leaves at most an
//   unfinished tail behind the end mark, which the next writer cuts, Check
//   reports and RegenerateIndexes removes.
//
// What a walk sees of other copies' changes. A walk is a run of Next (or of
// Prior) from where a positioning call (First, Last, GoTo, FindKey,
// FindNearest, GoToFraction, Refresh) or the previous step left the cursor.
// It reads rows ahead in batches of a bounded size (a few to a few hundred
// rows, at most 256 KiB), each under one hold of the table's read lock,
// after one look at the headers of the table and the index: within a batch
// every row is whole and every key is that of a row as stored together
// with it, never a torn row nor a key whose row is gone. What another copy
// changes (appends, edits, deletes, tags) shows from the walk's next batch
// on; a row the walk has read ahead shows as it was when read. A
// positioning call, this open's own changes, a change of order, filter or
// deleted-row setting, and a change of direction start a new batch, so a
// screen read as GoTo followed by Next and Prior is as fresh as the GoTo.
// The filter is asked about each candidate as the cursor reaches it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Calendar.h"
#include "db/dbf/Base.h"

namespace klv::dbf {

class MdxFile;
class Table;
struct TagDef;

struct FieldDef {
  std::string name;  // at most 10 characters: letters, digits, '_'; stored upper case
  char type = 'C';   // 'C', 'N', 'F', 'D', 'L'; others are read only ('M', 'B', 'G', ...)
  int length = 0;    // 0 = the engine's choice (C 10, N 11/F 20, D 8, L 1)
  int decimals = 0;
  bool required = false;  // kept for callers; dBase files carry no such flag
};

// How fields read and write as text: an option of each table (and of each
// caller of the text functions below), so that two tables never share one.
// The application gives its table the format of its display settings; the
// tools use ISO dates.
struct TextFormat {
  // Date pattern: d, dd, M, MM, yy, yyyy and '/' (replaced by date_separator).
  std::string short_date = "M/d/yyyy";
  char date_separator = '/';
  char decimal_separator = '.';
};

struct Date {
  int year = 0, month = 0, day = 0;  // all 0: no date
  bool IsNull() const { return year == 0; }
  bool operator==(const Date&) const = default;
};
// Whether y-m-d is a real calendar date in years 1..9999.
using base::IsValidDate;
// Text as the fields read it under a TextFormat: a number with the
// configured decimal separator ('.' always accepted), a date in the short
// date pattern (two-digit years fall in 1930-2029). nullopt when invalid.
std::optional<double> ParseNumberText(std::string_view text, const TextFormat& format);
std::optional<Date> ParseDateText(std::string_view text, const TextFormat& format);
std::string FormatDateText(const Date& date, const TextFormat& format);

// One field of the current record. Reading a field whose value is blank gives
// "" / 0 / a null date. Writes are checked: a C value longer than the field
// is cut to the width; a character the table's code page cannot hold, a
// number too large for its field, or text that is not a number or a date is
// refused with a DbfError naming the field.
class Field {
 public:
  const FieldDef& def() const { return def_; }
  const std::string& name() const { return def_.name; }
  int index() const { return index_; }

  bool IsNull() const;
  std::string AsString()
      const;  // UTF-8; C without trailing blanks; N/F/D per the table's TextFormat
  int64_t AsInteger() const;
  double AsFloat() const;
  Date AsDate() const;
  bool AsBoolean() const;
  std::string_view Raw() const;  // the bytes as stored
  // How its table shows and reads numbers and dates as text.
  const TextFormat& text_format() const;

  void SetAsString(std::string_view text);
  // For text from outside (imports, older tables) into a C field: each
  // character the code page cannot hold becomes its nearest letters in the
  // page (counted in *replaced), and a value longer than the field is cut
  // at a character boundary; returns whether it was cut. Other field types
  // take SetAsString.
  bool SetAsNearestString(std::string_view text, uint64_t* replaced);
  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  void SetAsDate(const Date& value);
  void SetAsBoolean(bool value);
  void Clear();

 private:
  friend class Table;
  Field(Table& table, FieldDef def, int index, int offset)
      : table_(&table), def_(std::move(def)), index_(index), offset_(offset) {}
  uint8_t* Writable();
  void Store(std::string_view bytes);  // pads to the width
  Table* table_;
  FieldDef def_;
  int index_;
  int offset_;
};

struct Bookmark {
  uint32_t recno = 0;
  std::string key;  // the key in the order that was active when taken
};

struct TagInfo {
  std::string name;
  std::string expression;
  char key_type = 'C';
  int key_length = 0;
  bool descending = false;
  bool unique = false;
};

struct IndexOptions {
  bool descending = false;
  bool unique = false;
};

// Notified when the cursor moves or data changes, unless suspended by
// DisableControls.
class TableObserver {
 public:
  virtual ~TableObserver() = default;
  virtual void TableChanged(Table& table) = 0;
};

class Table {
 public:
  enum class State { kClosed, kBrowse, kEdit, kInsert };

  explicit Table(Env& env = Env::Default());
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Binding. The table name may carry ".DBF" or not; the files are found
  // without regard to letter case.
  void SetDirectory(std::string dir);
  void SetTableName(std::string name);
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  // When set, an index that does not match its table is rebuilt at open
  // (needs write access) instead of failing with kIndexMismatch.
  void SetRepairIndex(bool repair) { repair_index_ = repair; }
  // When set, a read-only open of a table whose header names a production
  // index that is not there goes ahead without it, in record order and
  // with no tags, instead of failing with kNotFound; nothing is written.
  // For readers of the rows alone, such as a copy of just the .DBF.
  void SetIndexOptional(bool optional) { index_optional_ = optional; }
  // How the fields read and write as text (AsString, SetAsString) and how
  // FindKey reads a number or date key. Kept across Close and Open.
  void SetTextFormat(const TextFormat& format) { text_format_ = format; }
  const TextFormat& text_format() const { return text_format_; }
  const std::string& directory() const { return dir_; }
  const std::string& table_name() const { return name_; }
  bool exclusive() const { return exclusive_; }
  bool read_only() const { return read_only_; }
  std::string DbfPath() const;  // as found on disk when open
  std::string MdxPath() const;

  void Open();
  void Close();
  bool IsOpen() const { return state_ != State::kClosed; }
  State state() const { return state_; }
  const CodePage& code_page() const { return *cp_; }
  uint8_t version() const { return version_; }
  Date LastUpdate() const;

  // Cursor. Eof is set by Next past the last visible row, Bof by Prior before
  // the first; both when there is no visible row.
  void First();
  void Last();
  void Next();
  void Prior();
  // Moves by n visible rows (negative: backwards); returns how many moved.
  int64_t MoveBy(int64_t n);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty();
  uint32_t RecNo() const { return recno_; }
  // Positions on a record number (must be live and accepted by the filter).
  bool GoTo(uint32_t recno);
  // The number of visible rows: live rows, accepted by the filter when on.
  // Exact; reads the table only when it must (filter on, or others changed it).
  uint64_t RecordCount();
  // Rows in the file, deleted ones included (the header count).
  uint32_t PhysicalCount() const { return count_; }

  Bookmark GetBookmark() const;
  // Throws kKeyNotFound when the row is gone (deleted, packed away, filtered).
  void GotoBookmark(const Bookmark& bookmark);

  // Approximate position of the cursor in [0, 1] and a jump to a position,
  // in the active order, for scroll bars of very large tables.
  double Fraction();
  void GoToFraction(double fraction);

  // Fields.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  Field& Fields(int index);                   // 0-based position
  Field& FieldByName(std::string_view name);  // case-insensitive; kNoSuchField
  Field* FindField(std::string_view name);    // nullptr when absent
  std::vector<FieldDef> FieldDefs() const;
  // False for tables holding field types this engine does not write: those
  // open read-only only.
  bool Writable() const { return writable_types_; }

  // Changes.
  void Append();  // a blank new row; Post adds it at the end
  void Insert();  // same as Append: dBase rows have no position but the end
  // Locks the current row against other opens and re-reads it as stored now.
  void Edit();
  void Post();
  void Cancel();
  // Marks the current row deleted and moves to the next visible one.
  void Delete();
  // Brings the current row, shown while SetShowDeleted is on, back from
  // deletion (nothing when it is live). Its index keys were never removed.
  void Recall();

  // Display guard: observers hear nothing while disabled; one notice when
  // the last EnableControls balances the first DisableControls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  void AddObserver(TableObserver* observer);
  void RemoveObserver(TableObserver* observer);

  // Index tags of the production index.
  std::vector<TagInfo> Tags() const;
  // Adds (or replaces) a tag keyed by a dBase expression and builds it over
  // every row. Creates the production index when the table has none.
  void AddIndex(std::string_view name, std::string_view expression,
                const IndexOptions& options = {});
  void DeleteIndex(std::string_view name);
  // "" selects record order.
  void SetIndexName(std::string_view name);
  const std::string& IndexName() const { return index_name_; }
  // Key lookups on the active tag. The key is given as text (a number or a
  // date for such tags); a character key shorter than the tag's width
  // matches as a prefix. FindKey moves only on a match; FindNearest moves to
  // the first row whose key is not before the given one (Eof when none).
  bool FindKey(std::string_view key);
  void FindNearest(std::string_view key);

  // Filter: a callback asked about each candidate row while Filtered is on.
  // The table's fields show the candidate while it runs.
  // When set, deleted rows show too (for tools that dump or repair files).
  void SetShowDeleted(bool show);
  bool IsDeleted() const { return !buf_.empty() && buf_[0] == '*'; }

  void SetOnFilterRecord(std::function<bool(Table&)> filter);
  void SetFiltered(bool filtered);
  bool Filtered() const { return filtered_; }

  // Called after a Post has stored an edited row (not an appended one),
  // with the table browsing on that row, whoever began the edit: what
  // follows a row's contents (its pictures) is kept right in one place.
  // What the callback throws reaches Post's caller; the row stays stored.
  void SetAfterPostEdit(std::function<void(Table&)> callback);

  // Batched appends, for callers that add many rows (import, conversion,
  // the tools). Between BeginAppendBatch and EndAppendBatch a Post of an
  // Append checks the row and its index keys as always, then queues it
  // instead of writing it; RecNo() is 0 while the row waits. The queue is
  // written as one batch, under one hold of the table's write lock, once it
  // holds options.rows rows, once its first row has waited
  // options.milliseconds, at EndAppendBatch, and before any other operation
  // on this table (a move, an edit, a refresh, Close). Other copies get the
  // lock between batches and never see part of one; the index is complete
  // whenever the lock is free; a process killed while it writes a batch
  // loses that batch and nothing before it. A batch that fails before its
  // rows are counted stays queued, so EndAppendBatch can be called again
  // (Close tries once more, then drops it).
  struct AppendBatchOptions {
    size_t rows = 20000;
    int64_t milliseconds = 100;
  };
  void BeginAppendBatch(const AppendBatchOptions& options);
  void BeginAppendBatch() { BeginAppendBatch(AppendBatchOptions{}); }
  void EndAppendBatch();
  // Ends the batch mode and forgets the rows still queued, after a failure
  // the caller reports itself.
  void DropAppendBatch();
  bool InAppendBatch() const;
  size_t QueuedRows() const;

  // Whole-table operations. Pack needs an exclusive open; Regenerate rebuilds
  // every tag; Check verifies every row and every key against its row and
  // returns the problems found (empty when sound), among them bytes past
  // the last counted row left by an append that never finished.
  // RegenerateIndexes also cuts such bytes away and completes a row whose
  // append stopped after it was counted.
  void Pack(const std::function<void(double)>& progress = {});
  void RegenerateIndexes(const std::function<void(double)>& progress = {});
  std::vector<std::string> Check();
  // Re-reads the header and the index, showing other processes' appends,
  // edits and deletes; the cursor stays on its row when the row still shows.
  void Refresh();

  // Creates an empty table (no index) from field definitions, replacing a
  // file of that name. New tables are dBase III/IV (0x03), Windows-1252.
  static void CreateTable(Env& env, const std::string& path, const std::vector<FieldDef>& fields);
  static void CreateTable(const std::string& path, const std::vector<FieldDef>& fields) {
    CreateTable(Env::Default(), path, fields);
  }

  // Clears the production-index flag (header byte 28) of the table at path,
  // for a table whose index file is gone, under the table's write lock.
  // Leaves the file as it is, and returns false, when it cannot be opened
  // for writing, does not begin like a dBase table, already has the flag
  // clear, or is held for exclusive use by another open; throws kIo or
  // kDiskFull when the write fails.
  static bool RemoveIndexFlag(Env& env, const std::string& path);

  // The open state and the helpers behind the operations above; lives in
  // the engine's own files.
  struct Impl;

 private:
  friend class Field;
  std::unique_ptr<Impl> impl_;
  std::string dir_, name_;
  bool exclusive_ = false, read_only_ = false, repair_index_ = false, index_optional_ = false;
  State state_ = State::kClosed;
  const CodePage* cp_ = nullptr;
  uint8_t version_ = 0x03;
  uint32_t count_ = 0;
  std::vector<Field> fields_;
  std::vector<uint8_t> buf_;  // the current (or candidate) record
  uint32_t recno_ = 0;
  bool eof_ = true, bof_ = true;
  bool writable_types_ = true;
  std::string index_name_;
  bool filtered_ = false;
  int disable_count_ = 0;
  TextFormat text_format_;
};

}  // namespace klv::dbf
