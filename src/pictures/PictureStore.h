// The pictures of a collection's coins: an obverse and a reverse for each
// row, kept beside the table without touching its fields, which other
// software reads and writes.
//
// Beside "MASTER.DBF" is the folder "MASTER.PIC/": a copy of each attached
// picture (named by a serial number, with the extension of its kind) and the
// index table "PICTURES.DBF": record number, side, picture file name and the
// coin's fingerprint, a hash of the fields that name it (Country, Face Value,
// Year, Mint Mark, Description, Purch Date).
//
// Promises:
// - A picture belongs to the row of its record number while that row's
//   fingerprint is its own. When another program has rewritten the table so
//   that the row holds another coin, the picture is looked for by its
//   fingerprint (among rows not holding a picture of that side already); one
//   found nowhere is listed as unattached, never deleted, and can be
//   attached again.
// - Pack moves the pictures with their rows in the same step: before the
//   table is packed the index records where each row goes, so a pack killed
//   at any point leaves each picture with its coin.
// - Every write of the index or of a picture goes to a temporary file that
//   is synced and renamed into place; a process killed at any write leaves
//   every picture attached or listed as unattached. A picture file in the
//   folder that the index does not name is listed as unattached.
// - Changes are made under a lock of the folder, each on the index as it
//   is on disk, so two copies of the program attaching at once lose nothing.
// - A file that is not a whole JPEG, PNG or WebP picture is refused with a
//   message naming it, and nothing is attached.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Env.h"
#include "base/Error.h"

namespace klv::dbf {
class Table;
}

namespace klv::pictures {

enum class Side { kObverse, kReverse };
std::string_view SideName(Side side);  // "obverse", "reverse"
std::optional<Side> ParseSide(std::string_view name);

// The folder of the table at dbf_path ("dir/MASTER.PIC/", with trailing '/').
std::string FolderOf(const std::string& dbf_path);

// The fingerprint of the table's current row: 16 hex digits. Text compares
// without surrounding blanks, numbers by value, so that a rewrite by other
// software that pads or widens fields keeps it.
std::string Fingerprint(dbf::Table& table);

enum class PictureKind { kJpeg, kPng, kWebp };
std::string_view ExtensionOf(PictureKind kind);  // "jpg", "png", "webp"
// The kind of a whole picture in bytes; throws base::Error (kBadValue) with
// a message naming name when the bytes are no picture or one cut short.
PictureKind CheckPicture(std::string_view bytes, const std::string& name);

struct Picture {
  uint32_t recno = 0;  // its row; 0 when unattached
  Side side = Side::kObverse;
  std::string file;         // the file name in the folder
  std::string fingerprint;  // of its coin when attached; "" for a stray file
  bool attached() const { return recno != 0; }
};

class PictureStore {
 public:
  explicit PictureStore(std::string dbf_path, base::Env& env = base::Env::Default());

  const std::string& folder() const { return folder_; }
  std::string PathOf(const Picture& picture) const { return folder_ + picture.file; }
  // Where a small picture of at most side x side pixels made of the
  // picture is cached: "thumbs/" in the folder. The store removes a
  // picture's small pictures once its copy is gone.
  std::string ThumbnailPathOf(const Picture& picture, int side) const;

  // Reads the index and matches it against the table (opened here, shared
  // and read-only), writing the index back when a picture was found at
  // another row (when it can: a read-only folder keeps the old index, which
  // the next open matches the same way). Nothing when there is no folder.
  void Load();
  // The same on a table the caller holds open: every row is matched, also
  // those its search hides; its row, order and search are put back
  // afterwards (deleted rows hidden).
  void Load(dbf::Table& table);

  // Attached pictures first, by record number and side, then the unattached.
  const std::vector<Picture>& pictures() const { return pictures_; }
  const Picture* Find(uint32_t recno, Side side) const;
  std::vector<Picture> Unattached() const;

  // Attaches a copy of the picture at source to the row, replacing the
  // side's picture (whose copy and small pictures are removed); an
  // unattached picture of the folder itself is attached again as it is,
  // not copied beside itself. Throws base::Error with a message fit to show
  // when the file is no picture or the row is missing.
  void Attach(uint32_t recno, Side side, const std::string& source);
  // Attaches an unattached picture of the folder to the row.
  void Reattach(const std::string& file, uint32_t recno, Side side);
  // Removes the side's picture, its copy and its small pictures; false
  // when there was none.
  bool Remove(uint32_t recno, Side side);
  // The row's coin has been changed: its pictures take its new fingerprint.
  // table is on that row. Nothing when the row has no pictures.
  void CoinChanged(dbf::Table& table);
  // The same for many rows at once (record number to its new fingerprint),
  // with one write of the index.
  void CoinsChanged(const std::map<uint32_t, std::string>& fingerprints);

 private:
  friend void PackKeepingPictures(dbf::Table&, const std::function<void(double)>&, base::Env&);
  friend class CoinFollower;
  friend void CopyPicturesOfRows(const std::string&, const std::string&,
                                 const std::vector<uint32_t>&);
  struct Entry;
  // Gives the row's side the unattached entry loose, the side's earlier
  // picture going; writes the index.
  void AttachLoose(std::vector<Entry>& entries, const std::string& file, uint32_t recno,
                   Side side, const std::string& fingerprint);
  class FolderLock;
  std::vector<Entry> ReadIndex();
  void WriteIndex(const std::vector<Entry>& entries);
  void Match(dbf::Table& table, std::vector<Entry>& entries, bool* moved);
  void Publish(const std::vector<Entry>& entries);
  std::string NewFileName(std::string_view extension);
  void DropStaleThumbnails();
  void Change(const std::function<void(dbf::Table&, std::vector<Entry>&)>& change);

  base::Env& env_;
  std::string dbf_path_;
  std::string folder_;
  std::vector<Picture> pictures_;
};

// Keeps the pictures of a table's coins with them while the table's rows
// are edited, however the edit is made (a form, a grid cell, a replace):
// each posted row whose fingerprint changed gives its pictures the new one.
// What the index holds is remembered between posts and read again only when
// its file has changed, so the post of a row without pictures, or of one
// whose naming fields stayed as they were, costs one look at that file.
class CoinFollower {
 public:
  // env is the one the tables followed are opened with.
  explicit CoinFollower(base::Env& env = base::Env::Default());
  CoinFollower(const CoinFollower&) = delete;
  CoinFollower& operator=(const CoinFollower&) = delete;

  // Makes this follower hear every edit posted to table (its after-post
  // callback); the follower must outlive that.
  void Follow(dbf::Table& table);
  // An edit of table's current row has been posted.
  void Posted(dbf::Table& table);

  // While one lives, the new fingerprints are gathered and written together
  // (every few hundred rows, and when it ends), so a change of many coins
  // with pictures writes the index a few times instead of once per coin. A
  // process killed meanwhile leaves the pictures of the coins changed since
  // the last write listed as unattached, never lost. End writes what is
  // gathered and throws what that write throws; a Gathering left without
  // End (an error on its way) still tries the write, quietly.
  class Gathering {
   public:
    explicit Gathering(CoinFollower& follower);
    ~Gathering();
    Gathering(const Gathering&) = delete;
    Gathering& operator=(const Gathering&) = delete;
    void End();

   private:
    CoinFollower* follower_;
  };

 private:
  struct Stamp {
    bool exists = false;
    uint64_t inode = 0, size = 0;
    int64_t modified_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  Stamp IndexStamp();
  void Flush();

  base::Env& env_;
  std::string dbf_path_;
  std::string folder_;
  std::string index_path_;  // as found in the folder, letter case and all
  bool known_ = false;  // fingerprints_ holds the index as stamp_ says
  Stamp stamp_;
  std::map<uint32_t, std::vector<std::string>> fingerprints_;  // of the rows with pictures
  std::map<uint32_t, std::string> pending_;                    // gathered, not yet written
  int gathering_ = 0;
};

// Packs the table (opened exclusively), moving its pictures with the rows;
// the pictures of rows packed away become unattached.
// env is the one the table was opened with.
void PackKeepingPictures(dbf::Table& table, const std::function<void(double)>& progress = {},
                         base::Env& env = base::Env::Default());

// Copies the pictures of the rows recnos of the table at from_dbf to the
// table at to_dbf, whose row n is the row recnos[n - 1] (an export to a new
// table). The new table's folder is made afresh.
void CopyPicturesOfRows(const std::string& from_dbf, const std::string& to_dbf,
                        const std::vector<uint32_t>& recnos);

// The names of the files of the table's folder that a copy of the database
// takes along, in the order to copy them: the pictures, then the index, so
// that a copy stopped part way leaves pictures listed as unattached at
// worst. Empty when the table has no folder.
std::vector<std::string> FilesToCopy(const std::string& dbf_path);

// Sets aside the folder of a table about to be made anew ("MASTER.PIC" to
// "MASTER.PIC.1", the first free number), so that a new database starts
// with no pictures and none is lost. Returns the new name, or "".
std::string SetAsideFolder(const std::string& dbf_path);

}  // namespace klv::pictures
