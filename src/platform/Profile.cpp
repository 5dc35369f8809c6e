#include "platform/Profile.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include <QFile>
#include <QStringDecoder>

#include "base/Codepage.h"
#include "base/Env.h"
#include "base/Error.h"

namespace klv::platform {
namespace {

// Settings files are a few kilobytes; anything near this size is not one, and
// reading it whole would only waste memory.
constexpr qsizetype kMaxProfileBytes = 16 * 1024 * 1024;

std::string NativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

bool IsUtf8(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString ignored = decoder.decode(bytes);
  return !decoder.hasError();
}

bool IsBlankText(const QString& text) {
  return text.trimmed().isEmpty();
}

// Undoes the quoting of Quote(), and the quotes a hand-written value may
// carry: one matching pair of double or single quotes around the value.
QString Unquote(const QString& value) {
  if (value.size() >= 2) {
    const QChar first = value.front();
    if ((first == u'"' || first == u'\'') && value.back() == first)
      return value.mid(1, value.size() - 2);
  }
  return value;
}

// The text to write for value so that reading it back gives value again.
QString Quote(const QString& value) {
  const bool padded = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
  const bool looks_quoted = value.size() >= 2 &&
                            (value.front() == u'"' || value.front() == u'\'') &&
                            value.back() == value.front();
  if (padded || looks_quoted) return u'"' + value + u'"';
  return value;
}

void CheckName(const QString& name, bool is_key) {
  const QString trimmed = name.trimmed();
  bool ok = !trimmed.isEmpty() && !name.contains(u'\n') && !name.contains(u'\r');
  if (is_key) {
    // A line's leading U+FEFF reads as a byte-order mark, and is dropped.
    ok = ok && !name.contains(u'=') && !trimmed.startsWith(u';') && !trimmed.startsWith(u'[') &&
         !trimmed.startsWith(QChar(0xFEFF));
  } else {
    ok = ok && !name.contains(u']');
  }
  if (!ok) {
    throw std::invalid_argument(std::string(is_key ? "profile key " : "profile section ") + "\"" +
                                name.toStdString() + "\" cannot be stored in a settings file");
  }
}

}  // namespace

ProfileFile::ProfileFile(QString path, base::Env* env)
    : path_(std::move(path)), env_(env != nullptr ? env : &base::Env::Default()) {
  Load();
}

void ProfileFile::Load() {
  lines_.clear();
  existed_ = false;
  load_error_.clear();
  legacy_8bit_ = false;
  eol_ = "\n";
  QByteArray data;
  try {
    std::unique_ptr<base::File> file = env_->Open(NativePath(path_), base::OpenMode::kReadOnly);
    existed_ = true;
    const uint64_t size = file->Size();
    if (size > static_cast<uint64_t>(kMaxProfileBytes)) {
      load_error_ = QStringLiteral("\"%1\" is too large to be a settings file").arg(path_);
      return;
    }
    data.resize(static_cast<qsizetype>(size));
    const size_t got = file->ReadAt(0, data.data(), static_cast<size_t>(size));
    data.resize(static_cast<qsizetype>(got));
  } catch (const base::Error& e) {
    if (e.code() == base::ErrorCode::kNotFound) return;
    existed_ = true;
    load_error_ = QString::fromStdString(e.what());
    return;
  }
  Parse(data);
}

QString ProfileFile::Decode(const QByteArray& bytes) const {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (!decoder.hasError()) return text;
  const std::string utf8 =
      base::CodePage::Cp1252().Decode(std::string_view(bytes.constData(), bytes.size()));
  return QString::fromStdString(utf8);
}

QByteArray ProfileFile::Encode(const QString& text) const {
  const QByteArray utf8 = text.toUtf8();
  if (legacy_8bit_) {
    std::optional<std::string> cp =
        base::CodePage::Cp1252().Encode(std::string_view(utf8.constData(), utf8.size()));
    // A character Windows-1252 lacks is written in UTF-8 rather than lost, and
    // so is text whose Windows-1252 bytes would also read as UTF-8 ("Ã©");
    // that line then reads back by the per-line rule.
    if (cp) {
      const QByteArray bytes(cp->data(), static_cast<qsizetype>(cp->size()));
      if (bytes == utf8 || !IsUtf8(bytes)) return bytes;
    }
  }
  return utf8;
}

void ProfileFile::Parse(const QByteArray& data) {
  bool eol_seen = false;
  qsizetype pos = 0;
  while (pos < data.size()) {
    Line line;
    const qsizetype nl = data.indexOf('\n', pos);
    if (nl < 0) {
      line.bytes = data.mid(pos);
      pos = data.size();
    } else {
      qsizetype end = nl;
      if (end > pos && data[end - 1] == '\r') --end;
      line.bytes = data.mid(pos, end - pos);
      line.end = data.mid(end, nl + 1 - end);
      if (!eol_seen) {
        eol_ = line.end;
        eol_seen = true;
      }
      pos = nl + 1;
    }
    if (!legacy_8bit_ && !IsUtf8(line.bytes)) legacy_8bit_ = true;
    lines_.push_back(std::move(line));
  }

  for (size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    QByteArray bytes = line.bytes;
    if (i == 0 && bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    const QString text = Decode(bytes).trimmed();
    if (text.isEmpty() || text.front() == u';') continue;
    if (text.front() == u'[') {
      const qsizetype close = text.indexOf(u']');
      if (close > 0) {
        line.kind = Line::kSection;
        line.name = text.mid(1, close - 1).trimmed();
      }
      continue;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0) continue;
    const QString key = text.left(eq).trimmed();
    if (key.isEmpty()) continue;
    line.kind = Line::kEntry;
    line.name = key;
    line.value = Unquote(text.mid(eq + 1).trimmed());
  }
}

int ProfileFile::FindSection(const QString& section) const {
  const QString wanted = section.trimmed();
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Line::kSection &&
        lines_[i].name.compare(wanted, Qt::CaseInsensitive) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int ProfileFile::SectionEnd(int first) const {
  int i = first + 1;
  while (i < static_cast<int>(lines_.size()) &&
         lines_[static_cast<size_t>(i)].kind != Line::kSection)
    ++i;
  return i;
}

int ProfileFile::FindEntry(const QString& section, const QString& key) const {
  const int s = FindSection(section);
  if (s < 0) return -1;
  const QString wanted = key.trimmed();
  const int end = SectionEnd(s);
  for (int i = s + 1; i < end; ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    if (line.kind == Line::kEntry && line.name.compare(wanted, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

QString ProfileFile::GetString(const QString& section, const QString& key,
                               const QString& def) const {
  const int i = FindEntry(section, key);
  return i < 0 ? def : lines_[static_cast<size_t>(i)].value;
}

int ProfileFile::GetInt(const QString& section, const QString& key, int def) const {
  const int i = FindEntry(section, key);
  if (i < 0) return def;
  const QString& text = lines_[static_cast<size_t>(i)].value;
  qsizetype p = 0;
  // Only a quoted value can still start with blanks.
  while (p < text.size() && (text[p] == u' ' || text[p] == u'\t')) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == u'-' || text[p] == u'+')) {
    negative = text[p] == u'-';
    ++p;
  }
  long long value = 0;
  bool any = false;
  for (; p < text.size() && text[p] >= u'0' && text[p] <= u'9'; ++p) {
    value = value * 10 + (text[p].unicode() - u'0');
    any = true;
    if (value > static_cast<long long>(INT_MAX) + 1) return def;
  }
  if (!any) return def;
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return def;
  return static_cast<int>(value);
}

void ProfileFile::SetString(const QString& section, const QString& key, const QString& value) {
  CheckName(section, false);
  CheckName(key, true);
  QString clean = value;
  clean.replace(u'\r', u' ').replace(u'\n', u' ');
  const int before = FindEntry(section, key);
  if (before >= 0 && lines_[static_cast<size_t>(before)].value == clean) return;
  Apply(section, key, clean);
  pending_.push_back({section, key, clean});
}

void ProfileFile::Apply(const QString& section, const QString& key, const QString& value) {
  const int existing = FindEntry(section, key);
  if (existing >= 0) {
    // Keep everything up to the value (the key as spelled, the blanks around
    // '='), so that only the value itself changes. The line is read in one
    // encoding, so it is encoded as a whole.
    Line& line = lines_[static_cast<size_t>(existing)];
    if (line.value == value) return;
    const QString text = Decode(line.bytes);
    qsizetype cut = text.indexOf(u'=') + 1;
    while (cut < text.size() && (text[cut] == u' ' || text[cut] == u'\t')) ++cut;
    line.bytes = Encode(text.left(cut) + Quote(value));
    line.value = value;
    return;
  }

  Line entry;
  entry.bytes = Encode(key.trimmed() + u'=' + Quote(value));
  entry.end = eol_;
  entry.kind = Line::kEntry;
  entry.name = key.trimmed();
  entry.value = value;

  const int s = FindSection(section);
  if (s < 0) {
    if (!lines_.empty()) {
      if (lines_.back().end.isEmpty()) lines_.back().end = eol_;
      if (!IsBlankText(Decode(lines_.back().bytes))) {
        Line blank;
        blank.end = eol_;
        lines_.push_back(std::move(blank));
      }
    }
    Line head;
    head.bytes = '[' + Encode(section.trimmed()) + ']';
    head.end = eol_;
    head.kind = Line::kSection;
    head.name = section.trimmed();
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(entry));
    return;
  }
  // After the section's last entry, so that comments and blank lines that
  // lead into the next section stay with it.
  int at = s + 1;
  const int end = SectionEnd(s);
  for (int i = s + 1; i < end; ++i) {
    if (lines_[static_cast<size_t>(i)].kind == Line::kEntry) at = i + 1;
  }
  Line& previous = lines_[static_cast<size_t>(at - 1)];
  if (previous.end.isEmpty()) previous.end = eol_;
  lines_.insert(lines_.begin() + at, std::move(entry));
}

QByteArray ProfileFile::Serialize() const {
  QByteArray out;
  for (const Line& line : lines_) {
    out += line.bytes;
    out += line.end;
  }
  return out;
}

void ProfileFile::Save() {
  if (pending_.empty()) return;
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  Load();
  if (!load_error_.isEmpty()) {
    pending_ = pending;
    for (const Pending& p : pending) Apply(p.section, p.key, p.value);
    base::Fail(base::ErrorCode::kIo,
              "The settings file \"" + path_.toStdString() +
                  "\" cannot be read, so it is not replaced: " + load_error_.toStdString());
  }
  for (const Pending& p : pending) Apply(p.section, p.key, p.value);
  const QByteArray data = Serialize();

  // Write through a symbolic link rather than replacing the link itself.
  std::string target = NativePath(path_);
  if (char* real = ::realpath(target.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  try {
    base::ReplaceFile(*env_, target, [&](base::File& file) {
      file.WriteAt(0, data.constData(), static_cast<size_t>(data.size()));
    });
  } catch (...) {
    // The settings file is intact; the changes wait for the next write.
    pending_ = std::move(pending);
    throw;
  }
  env_->SyncDir(target);
  existed_ = true;
}

QString ReadProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def) {
  return ProfileFile(path).GetString(section, key, def);
}

int ReadProfileInt(const QString& path, const QString& section, const QString& key, int def) {
  return ProfileFile(path).GetInt(section, key, def);
}

void WriteProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value) {
  ProfileFile file(path);
  file.SetString(section, key, value);
  file.Save();
}

}  // namespace klv::platform
