#include "pictures/PictureFiles.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QThread>

#include "pictures/PicturesTexts.h"

namespace klv::pictures {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

void AttachChecked(PictureStore& store, uint32_t recno, Side side, const QString& source) {
  QImageReader reader(source);
  reader.setDecideFormatFromContent(true);
  const QImage image = reader.read();
  if (image.isNull()) {
    // The store's own check names the fault more closely when it finds one.
    const std::string bytes = [&] {
      QFile f(source);
      return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }();
    if (!QFileInfo(source).isReadable())
      base::Fail(base::ErrorCode::kBadValue,
                 QString::fromUtf8(texts::kCannotRead).arg(source).toStdString());
    CheckPicture(bytes, QFileInfo(source).fileName().toStdString());
    base::Fail(base::ErrorCode::kBadValue,
               QString::fromUtf8(texts::kDamaged).arg(QFileInfo(source).fileName()).toStdString());
  }
  store.Attach(recno, side, source.toStdString());
}

QImage ReadPicture(const PictureStore& store, const Picture& picture) {
  QImageReader reader(Q(store.PathOf(picture)));
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);
  return reader.read();
}

QImage Thumbnail(const PictureStore& store, const Picture& picture, int side) {
  const QString cached = Q(store.ThumbnailPathOf(picture, side));
  const QString dir = QFileInfo(cached).path();
  QImage image;
  if (image.load(cached, "PNG")) return image;
  QImageReader reader(Q(store.PathOf(picture)));
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);
  // Large pictures decode at about the size needed where the format can.
  const QSize full = reader.size();
  if (full.isValid()) reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio));
  image = reader.read();
  if (image.isNull()) return image;
  if (image.width() > side || image.height() > side)
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  if (QDir().mkpath(dir)) {
    QSaveFile out(cached);
    if (out.open(QIODevice::WriteOnly) && image.save(&out, "PNG")) out.commit();
  }
  return image;
}

QByteArray ThumbnailPng(const PictureStore& store, const Picture& picture, int side, QSize* size) {
  QFile cached(Q(store.ThumbnailPathOf(picture, side)));
  if (cached.open(QIODevice::ReadOnly)) {
    QByteArray bytes = cached.readAll();
    QBuffer in(&bytes);
    QImageReader reader(&in, "PNG");
    *size = reader.size();
    if (size->isValid()) return bytes;
  }
  const QImage image = Thumbnail(store, picture, side);
  *size = image.size();
  QByteArray bytes;
  QBuffer out(&bytes);
  if (image.isNull() || !out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG")) return {};
  return bytes;
}

void ObverseThumbnails::Refresh(const QString& dbf_path) {
  const bool other = dbf_path != dbf_path_;
  if (!other && since_look_.isValid() && since_look_.elapsed() < 1000) return;
  since_look_.start();
  const QString folder = QString::fromStdString(FolderOf(dbf_path.toStdString()));
  const QFileInfo index(folder + QStringLiteral("PICTURES.DBF"));
  const qint64 stamp = index.exists() ? index.lastModified().toMSecsSinceEpoch() : 0;
  if (!other && stamp == index_stamp_) return;
  dbf_path_ = dbf_path;
  index_stamp_ = stamp;
  files_.clear();
  store_ = std::make_unique<PictureStore>(dbf_path.toStdString());
  try {
    if (stamp != 0) store_->Load();
  } catch (const base::Error&) {
    // A table or index that cannot be read shows no pictures; the grid
    // reports the table's own faults.
    return;
  }
  for (const Picture& p : store_->pictures())
    if (p.attached() && p.side == Side::kObverse) files_.insert(p.recno, Q(p.file));
}

ObverseThumbnails::ObverseThumbnails()
    : context_(std::make_unique<QObject>()), pool_(std::make_unique<QThreadPool>()) {
  // One thread below the window's: scrolling keeps the processor first.
  pool_->setMaxThreadCount(1);
  pool_->setThreadPriority(QThread::LowestPriority);
}

ObverseThumbnails::~ObverseThumbnails() {
  pool_->clear();
  pool_->waitForDone();
}

void ObverseThumbnails::WaitForAll() {
  while (!asked_.isEmpty()) {
    pool_->waitForDone();
    QCoreApplication::sendPostedEvents(context_.get());
  }
}

QPixmap ObverseThumbnails::Of(const QString& dbf_path, uint32_t recno, int side) {
  Refresh(dbf_path);
  const auto file = files_.constFind(recno);
  if (file == files_.constEnd()) return {};
  const QString key = *file + QLatin1Char('@') + QString::number(side);
  auto made = made_.constFind(key);
  if (made != made_.constEnd()) return *made;
  if (asked_.contains(key)) return {};
  asked_.insert(key);
  const std::string path = dbf_path.toStdString(), name = file->toStdString();
  QObject* context = context_.get();
  pool_->start([this, context, path, name, key, recno, side] {
    Picture picture;
    picture.recno = recno;
    picture.file = name;
    const QImage image = Thumbnail(PictureStore(path), picture, side);
    QMetaObject::invokeMethod(
        context,
        [this, key, recno, image] {
          made_.insert(key, QPixmap::fromImage(image));
          asked_.remove(key);
          if (ready) ready(recno);
        },
        Qt::QueuedConnection);
  });
  return {};
}

}  // namespace klv::pictures
