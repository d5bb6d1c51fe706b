// korvan-icon: renders the panel's own picture to the files a desktop needs, so the
// installed icon is always the program's drawing.
//   korvan-icon --hicolor <dir>   <dir>/<n>x<n>/apps/korvan.png for the usual sizes
//   korvan-icon --ico <file>      one Windows icon file holding the same sizes

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QtEndian>

#include <cstdio>

#include "pictures.h"

namespace {

QByteArray png(int side)
{
    const QImage image = Pictures::icon(Pictures::Picture::Panel)
                             .pixmap(QSize(side, side), 1.0)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writeHicolor(const QString &root)
{
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(side);
        if (!QDir().mkpath(dir) || !writeFile(dir + QStringLiteral("/korvan.png"), png(side)))
            return false;
    }
    return true;
}

template<typename T>
void append(QByteArray &out, T value)
{
    value = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

// Icon directory with PNG-compressed images, which Windows reads at every size.
bool writeIco(const QString &path)
{
    const int sides[] = {16, 24, 32, 48, 64, 256};
    constexpr quint16 count = std::size(sides);
    QByteArray header, images;
    append<quint16>(header, 0);
    append<quint16>(header, 1);
    append<quint16>(header, count);
    quint32 offset = 6 + 16 * count;
    for (int side : sides) {
        const QByteArray image = png(side);
        header.append(char(side == 256 ? 0 : side));
        header.append(char(side == 256 ? 0 : side));
        header.append(char(0)); // no palette
        header.append(char(0));
        append<quint16>(header, 1); // planes
        append<quint16>(header, 32); // bits per pixel
        append<quint32>(header, quint32(image.size()));
        append<quint32>(header, offset);
        offset += quint32(image.size());
        images += image;
    }
    return writeFile(path, header + images);
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fputs("usage: korvan-icon --hicolor <dir> | --ico <file>\n", stderr);
        return 2;
    }
    bool ok = false;
    if (args.at(1) == QLatin1String("--hicolor"))
        ok = writeHicolor(args.at(2));
    else if (args.at(1) == QLatin1String("--ico"))
        ok = writeIco(args.at(2));
    if (!ok)
        std::fprintf(stderr, "korvan-icon: cannot write %s\n", qPrintable(args.at(2)));
    return ok ? 0 : 1;
}
