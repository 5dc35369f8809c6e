#include "report/engine/ReportFiler.h"

#include <cstring>

#include <QtEndian>

#include "base/Error.h"

namespace klv::report::engine {

namespace {

constexpr char kStreamMagic[8] = {'K', 'L', 'V', 'P', 'A', 'G', 'E', '1'};

void WriteAll(QIODevice* stream, const char* data, qint64 size) {
  if (stream->write(data, size) != size)
    base::Fail(base::ErrorCode::kIo, "The report pages could not be stored.");
}

[[noreturn]] void NotPages() {
  base::Fail(base::ErrorCode::kIo, "The stored report pages are damaged.");
}

}  // namespace

bool TReportFiler::BeginDoc() {
  pages_written_ = 0;
  if (stream_) {
    if (!stream_->isOpen() && !stream_->open(QIODevice::ReadWrite | QIODevice::Truncate))
      base::Fail(base::ErrorCode::kIo, "The report pages could not be stored.");
    WriteAll(stream_, kStreamMagic, sizeof kStreamMagic);
  }
  return true;
}

void TReportFiler::EndPage(Page& page) {
  ++pages_written_;
  if (!stream_) return;
  const QByteArray bytes = EncodePage(page);
  char size[4];
  qToLittleEndian<quint32>(static_cast<quint32>(bytes.size()), size);
  WriteAll(stream_, size, 4);
  WriteAll(stream_, bytes.constData(), bytes.size());
}

void StoredPages::Open(QIODevice* stream) {
  Close();
  if (!stream || !stream->isOpen() || !stream->seek(0)) NotPages();
  char magic[sizeof kStreamMagic];
  if (stream->read(magic, sizeof magic) != sizeof magic ||
      std::memcmp(magic, kStreamMagic, sizeof magic) != 0)
    NotPages();
  const qint64 end = stream->size();
  qint64 at = sizeof magic;
  while (at < end) {
    char size_bytes[4];
    if (!stream->seek(at) || stream->read(size_bytes, 4) != 4) NotPages();
    const quint32 size = qFromLittleEndian<quint32>(size_bytes);
    if (size == 0 || static_cast<qint64>(size) > end - at - 4) NotPages();
    offsets_.push_back(at + 4);
    sizes_.push_back(size);
    at += 4 + size;
  }
  stream_ = stream;
}

void StoredPages::Close() {
  stream_ = nullptr;
  offsets_.clear();
  sizes_.clear();
}

Page StoredPages::Read(int n) const {
  if (!stream_ || n < 1 || n > PageCount()) NotPages();
  const size_t i = static_cast<size_t>(n - 1);
  if (!stream_->seek(offsets_[i])) NotPages();
  const QByteArray bytes = stream_->read(sizes_[i]);
  if (bytes.size() != static_cast<qsizetype>(sizes_[i])) NotPages();
  return DecodePage(bytes);
}

}  // namespace klv::report::engine
