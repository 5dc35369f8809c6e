// The pictures as images: the full decode that an attach from the program
// makes before the store keeps a copy, and the small pictures of the viewer
// and the edit form, made once and kept in the folder's "thumbs" folder.
#pragma once

#include <QImage>
#include <QString>

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

}  // namespace klv::pictures
