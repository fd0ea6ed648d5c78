// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program's SVG icon to the PNG sizes of the hicolor theme at build time, so that
// the package needs no SVG renderer of its own on the build machine.
//
//   quarrow_render_icon <small.svg> <large.svg> <output folder> <size>...
//
// Writes <output folder>/<size>x<size>/apps/quarrow.png for each size; sizes up to 16 are
// drawn from the small picture, which is laid out on the 16-pixel grid.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

namespace {

constexpr int kSmallPictureMaxSize = 16;

bool Render(const QString& svgPath, int size, const QString& pngPath)
{
    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icon: cannot read %s\n", qPrintable(svgPath));
        return false;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    if (!image.save(pngPath, "PNG")) {
        std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(pngPath));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <small.svg> <large.svg> <output folder> <size>...\n",
                     argv[0]);
        return 2;
    }
    const QString smallSvg = QString::fromLocal8Bit(argv[1]);
    const QString largeSvg = QString::fromLocal8Bit(argv[2]);
    const QString outputFolder = QString::fromLocal8Bit(argv[3]);

    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "render_icon: bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outputFolder).arg(size);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "render_icon: cannot create %s\n", qPrintable(folder));
            return 1;
        }
        const QString& svg = size <= kSmallPictureMaxSize ? smallSvg : largeSvg;
        if (!Render(svg, size, folder + QStringLiteral("/quarrow.png")))
            return 1;
    }
    return 0;
}
