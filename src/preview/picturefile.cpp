#include "picturefile.h"

#include <QImage>
#include <QImageReader>

namespace vl {

QPixmap loadPicture(const QString &path)
{
    if (path.isEmpty())
        return QPixmap();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // PNG, JPEG, BMP, GIF and WebP tell their size from the header, so an oversized one is
    // refused before anything is decoded; other formats are checked once read.
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPicturePixels)
        return QPixmap();
    const QImage image = reader.read();
    if (image.isNull() || qint64(image.width()) * image.height() > kMaxPicturePixels)
        return QPixmap();
    return QPixmap::fromImage(image);
}

}  // namespace vl
