// Rasterises icons/*.svg into the PNGs the app embeds, so the app needs no SVG plugin.
// Build by hand when an icon changes (needs qt6-svg-dev):
//   g++ -std=c++20 -fPIC render_icons.cpp $(pkg-config --cflags --libs Qt6Svg Qt6Gui) -o /tmp/render_icons
//   /tmp/render_icons icons
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("icons"));
    for (const QString& name : dir.entryList({QStringLiteral("*.svg")})) {
        QSvgRenderer svg(dir.filePath(name));
        // The application icon also in the sizes a desktop menu asks for.
        const bool app = name.startsWith(QStringLiteral("app"));
        for (int size : app ? QList<int>{16, 32, 48, 64, 256} : QList<int>{16, 32, 64}) {
            QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            svg.render(&p);
            p.end();
            QString base = name;
            base.chop(4);
            img.save(dir.filePath(QStringLiteral("%1_%2.png").arg(base).arg(size)));
        }
    }
    return 0;
}
