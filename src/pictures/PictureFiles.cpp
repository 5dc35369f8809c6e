#include "pictures/PictureFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

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
  const QString dir = Q(store.folder()) + QStringLiteral("thumbs/");
  const QString cached = dir + Q(picture.file) + QStringLiteral(".%1.png").arg(side);
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

}  // namespace klv::pictures
