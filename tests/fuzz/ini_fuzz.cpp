// Settings files are written by hand, by other programs and by Windows copies
// of the program. The input is written as a settings file (in a directory
// made once per run) and read: every entry line of a section is looked up in
// other spellings (letter case, blanks around the names), as text and as a
// number. Then three writes, each on a fresh copy of the input: an existing
// key, a key named by the input in an existing section, and a key in a
// section named by the input. After each save the file is read again: the
// key reads as written, every other key as before, no lines but those of the
// write differ, and a file that was UTF-8 is still UTF-8.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringDecoder>

#include "FuzzCheck.h"
#include "base/Codepage.h"
#include "base/Error.h"
#include "platform/Profile.h"

namespace {

using klv::platform::ProfileFile;

const QString kMissing = QStringLiteral("\x01missing");
const QString kAlsoMissing = QStringLiteral("\x02missing");
constexpr int kMaxKeys = 64;

std::string dir_path;

std::string FilePath() {
  return dir_path + "/FUZZ.INI";
}

void RemoveFiles() {
  if (dir_path.empty()) return;
  std::remove(FilePath().c_str());
  ::rmdir(dir_path.c_str());
}

QString Path() {
  if (dir_path.empty()) {
    // Every save syncs its file; in memory (/dev/shm) that costs nothing, on a
    // disk it would make each run take many milliseconds.
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || *base == 0) base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/ini-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_path = pattern;
    std::atexit(RemoveFiles);
  }
  return QString::fromStdString(FilePath());
}

void WriteFile(const QByteArray& bytes) {
  QFile f(Path());
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
  if (f.write(bytes) != bytes.size()) std::abort();
}

QByteArray ReadFile() {
  QFile f(Path());
  if (!f.open(QIODevice::ReadOnly)) std::abort();
  return f.readAll();
}

bool IsUtf8(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  return !decoder.hasError();
}

// A line as a settings file holds it: UTF-8, or Windows-1252 when it is not.
QString LineText(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  if (!decoder.hasError()) return text;
  return QString::fromStdString(klv::base::CodePage::Cp1252().Decode(
      std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
}

QList<QByteArray> Lines(const QByteArray& input) {
  QList<QByteArray> lines = input.split('\n');
  for (QByteArray& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
  }
  if (!lines.isEmpty() && lines[0].startsWith("\xEF\xBB\xBF")) lines[0].remove(0, 3);
  return lines;
}

bool SameName(const QString& a, const QString& b) {
  return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

struct Key {
  QString section, key;
  bool must_exist;  // in the first section of its name, so a lookup finds it
};

bool operator==(const Key& a, const Key& b) {
  return SameName(a.section, b.section) && SameName(a.key, b.key);
}

// The entry lines of the input's sections, found by the rules the file
// format states.
std::vector<Key> KeysOf(const QByteArray& input) {
  std::vector<Key> keys;
  std::vector<QString> sections;
  bool in_section = false, first_of_name = false;
  QString section;
  for (const QByteArray& line : Lines(input)) {
    const QString text = LineText(line).trimmed();
    if (text.startsWith(u'[')) {
      if (!text.contains(u']')) continue;  // neither a section nor an entry
      section = text.mid(1, text.indexOf(u']') - 1).trimmed();
      in_section = true;
      first_of_name = true;
      for (const QString& seen : sections)
        first_of_name = first_of_name && !SameName(seen, section);
      sections.push_back(section);
      continue;
    }
    if (!in_section || text.startsWith(u';')) continue;
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0 || text.left(eq).trimmed().isEmpty()) continue;
    if (static_cast<int>(keys.size()) < kMaxKeys)
      keys.push_back({section, text.left(eq).trimmed(), first_of_name});
  }
  return keys;
}

// The same name to a reader: ASCII letters in the other case, blanks around.
QString Respelled(const QString& name) {
  QString out = QStringLiteral(" \t");
  for (QChar c : name) {
    const char16_t u = c.unicode();
    if (u >= u'a' && u <= u'z') {
      out += QChar(u - u'a' + u'A');
    } else if (u >= u'A' && u <= u'Z') {
      out += QChar(u - u'A' + u'a');
    } else {
      out += c;
    }
  }
  return out + QStringLiteral(" ");
}

// What GetInt promises: optional blanks, an optional sign and the digits that
// follow, def when there are none or the number does not fit an int.
int IntOf(const QString& text, int def) {
  qsizetype p = 0;
  while (p < text.size() && (text[p] == u' ' || text[p] == u'\t')) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == u'-' || text[p] == u'+')) negative = text[p++] == u'-';
  long long value = 0;
  bool any = false;
  for (; p < text.size() && text[p] >= u'0' && text[p] <= u'9'; ++p) {
    any = true;
    value = value * 10 + (text[p].unicode() - u'0');
    if (value > 1LL << 32) return def;
  }
  if (!any) return def;
  if (negative) value = -value;
  return value < INT32_MIN || value > INT32_MAX ? def : static_cast<int>(value);
}

void CheckLookups(const ProfileFile& profile, const std::vector<Key>& keys) {
  for (const Key& k : keys) {
    const QString value = profile.GetString(k.section, k.key, kMissing);
    const bool found =
        value != kMissing || profile.GetString(k.section, k.key, kAlsoMissing) != kAlsoMissing;
    KLV_FUZZ_CHECK(found || !k.must_exist);
    KLV_FUZZ_CHECK(profile.GetString(Respelled(k.section), Respelled(k.key), kMissing) == value);
    if (!found) continue;
    KLV_FUZZ_CHECK(profile.GetInt(k.section, k.key, -7) == IntOf(value, -7));
    KLV_FUZZ_CHECK(profile.GetInt(k.section, k.key, 7) == IntOf(value, 7));
  }
}

// Lines with their ends, to compare a file before and after a write.
QList<QByteArray> RawLines(const QByteArray& bytes) {
  QList<QByteArray> lines;
  qsizetype pos = 0;
  while (pos < bytes.size()) {
    const qsizetype nl = bytes.indexOf('\n', pos);
    const qsizetype end = nl < 0 ? bytes.size() : nl + 1;
    lines.append(bytes.mid(pos, end - pos));
    pos = end;
  }
  return lines;
}

void CheckOnlyTheWriteChanged(const QByteArray& before, const QByteArray& after) {
  const QList<QByteArray> a = RawLines(before), b = RawLines(after);
  qsizetype head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  qsizetype tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
    ++tail;
  // One line changed (the key's, or the last line that gained its end), and
  // at most a blank line, a section line and the entry added.
  KLV_FUZZ_CHECK(a.size() - head - tail <= 1);
  KLV_FUZZ_CHECK(b.size() - head - tail <= 4);
}

void WriteAndReread(const QByteArray& input, const std::vector<Key>& keys, const QString& section,
                    const QString& key, const QString& value) {
  WriteFile(input);
  ProfileFile profile(Path());
  KLV_FUZZ_CHECK(profile.existed() && profile.load_error().isEmpty());
  std::vector<QString> before;
  for (const Key& k : keys) before.push_back(profile.GetString(k.section, k.key, kMissing));
  try {
    profile.SetString(section, key, value);
  } catch (const std::invalid_argument&) {
    return;  // a name no settings file can hold
  }
  QString expected = value;
  expected.replace(u'\r', u' ').replace(u'\n', u' ');
  KLV_FUZZ_CHECK(profile.GetString(section, key, kMissing) == expected);
  try {
    profile.Save();
  } catch (const klv::base::Error& e) {
    std::fprintf(stderr, "save failed: %s\n", e.what());
    std::abort();
  }
  const QByteArray after = ReadFile();
  const ProfileFile reread(Path());
  KLV_FUZZ_CHECK(reread.GetString(section, key, kMissing) == expected);
  const Key written{section, key, true};
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == written) continue;
    KLV_FUZZ_CHECK(reread.GetString(keys[i].section, keys[i].key, kMissing) == before[i]);
  }
  CheckOnlyTheWriteChanged(input, after);
  KLV_FUZZ_CHECK(!IsUtf8(input) || IsUtf8(after));
}

QString Chosen(const QList<QByteArray>& lines, size_t at) {
  return lines.isEmpty() ? QString()
                         : QString::fromUtf8(lines[static_cast<qsizetype>(at % lines.size())]);
}

// A name of at most 40 characters from text, never half of a surrogate pair
// (program names are whole text; half a pair cannot be stored at all).
QString NameFrom(QString text, QChar not_allowed) {
  text.remove(not_allowed);
  if (text.size() > 40) text.truncate(text[39].isHighSurrogate() ? 39 : 40);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  WriteFile(input);
  const std::vector<Key> keys = KeysOf(input);
  {
    ProfileFile profile(Path());
    KLV_FUZZ_CHECK(profile.existed() && profile.load_error().isEmpty() && !profile.modified());
    CheckLookups(profile, keys);
    profile.Save();  // nothing changed: nothing is written
    KLV_FUZZ_CHECK(ReadFile() == input);
  }

  // The names and values written come from the input's own lines, so the
  // fuzzer steers them like the file.
  const QList<QByteArray> lines = input.split('\n');
  const Key some = keys.empty() ? Key{QStringLiteral("Fuzz"), QStringLiteral("Key"), false}
                                : keys[size % keys.size()];
  WriteAndReread(input, keys, some.section, some.key, Chosen(lines, 0));
  WriteAndReread(input, keys, some.section, NameFrom(Chosen(lines, size / 2), u'='),
                 Chosen(lines, size / 3));
  WriteAndReread(input, keys, NameFrom(Chosen(lines, lines.size() - 1), u']'), some.key,
                 Chosen(lines, 1));
  return 0;
}
