#pragma once

// Pictures the user chooses for fixtures and for the stage's background come from any
// file, and a fixture project names its pictures by path. They are read through here: a
// path that is not a regular file (a pipe would never end, a device never stop), a file
// that is not a picture, or one whose size would take an unreasonable amount of memory to
// decode, gives a null pixmap.
//
// A picture still shown somewhere is not read again: the same file, unchanged, gives the
// same pixels, so a project whose thousands of fixtures name one large picture holds it
// once.

#include <QPixmap>
#include <QString>

namespace vl {

// The most pixels a chosen picture may have (8192 × 8192).
constexpr qint64 kMaxPicturePixels = qint64(8192) * 8192;

QPixmap loadPicture(const QString &path);

}  // namespace vl
