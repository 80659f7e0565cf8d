#pragma once

// Pictures the user chooses for fixtures and for the stage's background come from any
// file. They are read through here: a file that is not a picture, or one whose size would
// take an unreasonable amount of memory to decode, gives a null pixmap.

#include <QPixmap>
#include <QString>

namespace vl {

// The most pixels a chosen picture may have (8192 × 8192).
constexpr qint64 kMaxPicturePixels = qint64(8192) * 8192;

QPixmap loadPicture(const QString &path);

}  // namespace vl
