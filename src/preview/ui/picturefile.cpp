#include "picturefile.h"

#include "common/core/safefile.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageReader>

namespace vl {

namespace {

struct SharedPicture {
    QDateTime modified;
    qint64 size = 0;
    QPixmap pixmap;
};

// Pictures handed out and still in use somewhere, by absolute path. An entry whose pixmap
// nobody else holds any more is dropped on the next load.
QHash<QString, SharedPicture> &picturesInUse()
{
    static QHash<QString, SharedPicture> pictures;
    return pictures;
}

// A file larger than the largest picture uncompressed (four bytes a pixel) and a header
// holds no picture we load.
constexpr qint64 kMaxPictureFileBytes = kMaxPicturePixels * 4 + 1024 * 1024;

QPixmap readPicture(const QString &path)
{
    // Only a regular file: a pipe would keep the window waiting, a device never end.
    QByteArray content;
    FileProblem problem;
    if (!readRegularFile(path, kMaxPictureFileBytes, &content, &problem))
        return QPixmap();
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
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

}  // namespace

QPixmap loadPicture(const QString &path)
{
    if (path.isEmpty())
        return QPixmap();
    const QFileInfo file(path);
    if (!file.isFile())
        return QPixmap();  // not worth asking the cache

    QHash<QString, SharedPicture> &pictures = picturesInUse();
    for (auto it = pictures.begin(); it != pictures.end();) {
        if (it->pixmap.isDetached())
            it = pictures.erase(it);
        else
            ++it;
    }
    const QString key = file.absoluteFilePath();
    const QDateTime modified = file.lastModified();
    const auto shared = pictures.constFind(key);
    if (shared != pictures.cend() && shared->modified == modified && shared->size == file.size())
        return shared->pixmap;

    const QPixmap pixmap = readPicture(path);
    if (!pixmap.isNull())
        pictures.insert(key, {modified, file.size(), pixmap});
    return pixmap;
}

}  // namespace vl
