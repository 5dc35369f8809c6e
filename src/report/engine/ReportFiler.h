// The stored-page targets. TReportFiler writes every finished page into a
// stream its caller supplies (StreamMode smUser: a QBuffer over a byte
// array, as the preview uses, or any other device); StoredPages reads the
// same stream back, a page at a time, for the preview and the reprint.
//
// The stream holds a short header and then each page, compressed, behind its
// length, so the pages kept cost a fraction of their drawing, and the reader
// finds page n without decoding the pages before it.
#pragma once

#include <cstdint>
#include <vector>

#include <QIODevice>

#include "report/engine/BaseReport.h"

namespace klv::report::engine {

enum class TStreamMode { smMemory, smFile, smUser };

class TReportFiler : public TBaseReport {
 public:
  // Only smUser is offered: the caller supplies the stream.
  TStreamMode StreamMode = TStreamMode::smUser;
  // The stream the pages go to (not owned; open for writing when the run
  // starts). nullptr: the pages are laid out and thrown away at once, as
  // printing to a text file wants.
  void SetStream(QIODevice* stream) { stream_ = stream; }
  int PagesWritten() const { return pages_written_; }

 protected:
  bool BeginDoc() override;
  void EndPage(Page& page) override;

 private:
  QIODevice* stream_ = nullptr;
  int pages_written_ = 0;
};

// The pages of a stream TReportFiler wrote. Open throws base::Error when the
// stream is not such a stream; Read when a page is damaged.
class StoredPages {
 public:
  StoredPages() = default;
  // Finds every page of the stream (not owned; readable, seekable); keeps
  // only where each begins.
  void Open(QIODevice* stream);
  void Close();
  bool IsOpen() const { return stream_ != nullptr; }
  int PageCount() const { return static_cast<int>(offsets_.size()); }
  // Page n, from 1.
  Page Read(int n) const;

 private:
  QIODevice* stream_ = nullptr;
  std::vector<qint64> offsets_;
  std::vector<uint32_t> sizes_;
};

}  // namespace klv::report::engine
