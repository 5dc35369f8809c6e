// The pictures as images: the full decode that an attach from the program
// makes before the store keeps a copy, and the small pictures of the viewer
// and the edit form, made once and kept in the folder's "thumbs" folder.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>

#include "pictures/PictureStore.h"

namespace klv::pictures {

// Attaches the picture at source after reading it whole as an image, so a
// picture damaged inside is refused too. Throws base::Error with the
// message to show.
void AttachChecked(PictureStore& store, uint32_t recno, Side side, const QString& source);

// The picture, or a null image when it cannot be read.
QImage ReadPicture(const PictureStore& store, const Picture& picture);

// The picture scaled to fit side x side pixels, keeping its proportions,
// read from the folder's cache when made before (and made there otherwise,
// when the folder can be written).
QImage Thumbnail(const PictureStore& store, const Picture& picture, int side);
// The same small picture as PNG bytes (the cached file's own when there is
// one) and its size in pixels; empty when the picture cannot be read.
QByteArray ThumbnailPng(const PictureStore& store, const Picture& picture, int side, QSize* size);

// The small obverse pictures of one table's rows for the viewer grid: the
// index is read when the table changes and at most once a second after its
// file has changed; each picture is made once (kept in the folder), away
// from the window's thread, and then held in memory, so that scrolling
// never waits for a picture.
class ObverseThumbnails {
 public:
  ObverseThumbnails();
  ~ObverseThumbnails();

  // The picture of row recno at most side pixels high and wide; null when
  // the row has none or while it is being made (ready is told of recno
  // once it is there).
  QPixmap Of(const QString& dbf_path, uint32_t recno, int side);
  std::function<void(uint32_t recno)> ready;
  // Waits until every picture asked for is made (for tests and benchmarks).
  void WaitForAll();

 private:
  void Refresh(const QString& dbf_path);

  QString dbf_path_;
  std::unique_ptr<PictureStore> store_;
  QHash<uint32_t, QString> files_;  // recno to its obverse's file name
  QHash<QString, QPixmap> made_;    // file name and size to its picture
  QSet<QString> asked_;             // being made
  qint64 index_stamp_ = -1;
  QElapsedTimer since_look_;
  std::unique_ptr<QObject> context_;  // where made pictures are delivered
  std::unique_ptr<QThreadPool> pool_;
};

}  // namespace klv::pictures
