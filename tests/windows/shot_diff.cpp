// Compares two window pictures of the same size and says where they differ, for the checks of
// wine_app_test.sh: the live form against the unconnected one (readings filled the cells) and
// the picture with a Chinese font against the one without (the Chinese texts were drawn).
//   shot_diff A.png B.png MIN_PIXELS MIN_BANDS
// Prints "PIXELS pixels in BANDS bands of 16 rows differ"; exit 0 when both minimums are met,
// 1 when not, 2 when a picture cannot be read or the sizes differ.
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <set>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: shot_diff A.png B.png MIN_PIXELS MIN_BANDS\n");
        return 2;
    }
    const QImage a = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull()) {
        std::fprintf(stderr, "shot_diff: cannot read %s\n", a.isNull() ? argv[1] : argv[2]);
        return 2;
    }
    if (a.size() != b.size()) {
        std::fprintf(stderr, "shot_diff: %dx%d against %dx%d\n", a.width(), a.height(), b.width(),
                     b.height());
        return 2;
    }
    long pixels = 0;
    std::set<int> bands;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            if (ra[x] != rb[x]) {
                ++pixels;
                bands.insert(y / 16);
            }
    }
    std::printf("%ld pixels in %zu bands of 16 rows differ\n", pixels, bands.size());
    return pixels >= std::atol(argv[3]) && static_cast<long>(bands.size()) >= std::atol(argv[4]) ? 0 : 1;
}
