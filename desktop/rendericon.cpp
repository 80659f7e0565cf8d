// Renders the editor's picture at one icon size: rendericon <picture> <size> <icon.png>.
// The build draws the desktop's icons at their usual sizes from our own 256-pixel picture.

#include <QImage>
#include <QString>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: rendericon <picture> <size> <icon.png>\n");
        return 2;
    }
    const QImage picture(QString::fromLocal8Bit(argv[1]));
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&ok);
    if (picture.isNull() || !ok || size < 1 || size > 1024) {
        std::fprintf(stderr, "rendericon: cannot read %s or size %s\n", argv[1], argv[2]);
        return 1;
    }
    if (picture.width() != picture.height()) {
        std::fprintf(stderr, "rendericon: %s is not square\n", argv[1]);
        return 1;
    }
    const QImage icon = picture.convertToFormat(QImage::Format_ARGB32)
                            .scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!icon.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "rendericon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
