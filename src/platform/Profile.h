// Settings files in the Windows profile ("INI") format, read and written with
// the semantics of the Windows profile functions, so that files made by the
// program, by hand or by a Windows copy of it all read the same way.
//
// The format: "[Section]" lines open a section; "key=value" lines inside a
// section are entries; every other line (comments starting with ';', blank
// lines, text before the first section, lines without '=') is kept as it is
// and never interpreted.
//
// What a reader can rely on:
// - Section and key names are compared without regard to letter case, and
//   blanks around them do not count; the first matching section, and in it the
//   first matching key, wins. Later duplicates are kept but never seen.
// - A value is the text after the first '=', with leading and trailing blanks
//   and tabs removed. A value enclosed in a matching pair of double or single
//   quotes loses the quotes (as Windows does). Written values that would not
//   survive that reading (blanks at either end, or enclosing quotes) are
//   written in double quotes, so every value reads back exactly as written.
//   Line breaks inside a written value become blanks: a value is one line.
// - A missing file, section or key gives the caller's default; an entry that
//   is present with an empty value gives "".
//
// What a writer can rely on:
// - A write changes only the line of its key. A new key is added after the
//   last entry of its section (or right after the section line); a new
//   section is added at the end of the file, after a blank line. The file and
//   the section are created on the first write. All other bytes stay as they
//   were, comments and unknown keys included.
// - Lines are ended as the file ends its first line (CRLF or LF); a new file
//   uses LF, which every INI reader on both systems accepts.
// - Text is UTF-8. A file that holds bytes which are not UTF-8 (one copied
//   from Windows, in Windows-1252) is read as Windows-1252 line by line, and
//   new text is written in Windows-1252 when it can be, so such a file keeps
//   one encoding.
// - Save() writes the whole file to a temporary file in the same directory and
//   renames it into place: a failed or interrupted write leaves the previous
//   file complete. It re-reads the file first and applies this object's
//   writes to the fresh content, so keys another process wrote in the meantime
//   are kept, as with the one-key-at-a-time Windows functions.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace klv::base {
class Env;
}

namespace klv::platform {

class ProfileFile {
 public:
  // Reads the file at path through env (the process's file system when
  // null). A file that does not exist is an empty profile; a file that exists
  // but cannot be read reads as empty too, and Save() then refuses to replace
  // it (see load_error()).
  explicit ProfileFile(QString path, base::Env* env = nullptr);

  const QString& path() const { return path_; }
  // Whether the file existed when it was read.
  bool existed() const { return existed_; }
  // Why an existing file could not be read; empty when it was read or absent.
  const QString& load_error() const { return load_error_; }

  // The value of key in section, or def when either is missing.
  QString GetString(const QString& section, const QString& key, const QString& def) const;
  // The value as a whole number: optional blanks, an optional sign and the
  // decimal digits that follow (text after them is ignored, so "12px" gives
  // 12). def when the key is missing, holds no leading digits, or the number
  // does not fit an int.
  int GetInt(const QString& section, const QString& key, int def) const;

  // Sets key in section to value, in memory; Save() writes it. Section and
  // key must be non-empty, without line breaks, and must read back as
  // themselves (no ']' in a section, no '=' in a key, no leading ';', '[' or
  // U+FEFF in a key); otherwise std::invalid_argument is thrown, since such a name
  // is a programming error and would corrupt the file.
  void SetString(const QString& section, const QString& key, const QString& value);

  // Whether SetString changed anything since the last read or save.
  bool modified() const { return !pending_.empty(); }

  // Writes the changes, if any, as described above. Throws klv::base::Error
  // (kIo, kDiskFull, kNotFound for a missing directory) when the file cannot
  // be written, or kIo when it existed but could not be read; the file on disk
  // is then unchanged. Nothing is written when nothing was changed.
  void Save();

 private:
  struct Line {
    QByteArray bytes;  // the line without its end
    QByteArray end;    // "\r\n", "\n" or "" (last line without one)
    enum Kind { kOther, kSection, kEntry } kind = kOther;
    QString name;   // section or key name, trimmed
    QString value;  // entries: the value as read
  };
  struct Pending {
    QString section, key, value;
  };

  void Load();
  void Parse(const QByteArray& data);
  void Apply(const QString& section, const QString& key, const QString& value);
  QByteArray Serialize() const;
  QByteArray Encode(const QString& text) const;
  QString Decode(const QByteArray& bytes) const;
  // Index of the first section line named section, or -1.
  int FindSection(const QString& section) const;
  // One past the last line of the section starting at index first.
  int SectionEnd(int first) const;
  int FindEntry(const QString& section, const QString& key) const;

  QString path_;
  base::Env* env_;
  bool existed_ = false;
  QString load_error_;
  bool legacy_8bit_ = false;  // the file holds bytes that are not UTF-8
  QByteArray eol_ = "\n";
  std::vector<Line> lines_;
  std::vector<Pending> pending_;
};

// One-call forms of the profile functions. Each write reads and rewrites the
// file; a caller with many keys to write uses one ProfileFile and one Save().
QString ReadProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def);
int ReadProfileInt(const QString& path, const QString& section, const QString& key, int def);
// Throws as ProfileFile::Save.
void WriteProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

}  // namespace klv::platform
