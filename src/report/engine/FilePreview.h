// TFilePreview: stored pages shown one at a time in a scroll box, drawn
// through PaintPage as they print. Zoom 100 shows the page at its real size
// on the screen; the page sits on a grey ground with a margin of
// MarginPercent of its width around it.
//
// Start reads the stream's page index and shows the first page; Finish lets
// the stream go. Only the page shown is decoded and kept.
#pragma once

#include <QScrollArea>

#include "report/engine/ReportFiler.h"

namespace klv::report::engine {

class PreviewPage;

class TFilePreview : public QScrollArea {
  Q_OBJECT

 public:
  explicit TFilePreview(QWidget* parent = nullptr);
  ~TFilePreview() override;

  double MarginPercent = 2.5;
  int ShadowDepth = 0;

  // The stream the filer wrote (not owned).
  void SetStream(QIODevice* stream) { stream_ = stream; }
  void Start();
  void Finish();
  bool Started() const { return pages_.IsOpen(); }
  const StoredPages& pages() const { return pages_; }

  void PrevPage();
  void NextPage();
  void PrintPage(int n);  // goes to page n (1..count); others are ignored
  int CurrentPage() const { return current_; }
  int FirstPage() const { return 1; }
  int PageCount() const { return pages_.PageCount(); }

  double ZoomFactor() const { return zoom_; }
  void SetZoomFactor(double percent);
  void ZoomIn();
  void ZoomOut();
  double ZoomPageWidthFactor() const;
  double ZoomPageFactor() const;
  void RedrawPage();
  // Changed only between Finish and Start.
  void SetMonochrome(bool on);
  bool Monochrome() const { return monochrome_; }

  // The page as shown, drawn into an image at the current zoom (tests and
  // the benchmark look at it).
  QImage Render() const;

 signals:
  void OnZoomChange();
  void OnPageChange();

 private:
  friend class PreviewPage;
  void ShowPage(int n);
  void Relayout();
  QSize PageSizePixels() const;
  int MarginPixels() const;

  QIODevice* stream_ = nullptr;
  StoredPages pages_;
  Page page_;
  int current_ = 0;
  double zoom_ = 100;
  bool monochrome_ = false;
  PreviewPage* canvas_ = nullptr;
};

}  // namespace klv::report::engine
