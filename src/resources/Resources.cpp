#include "resources/Resources.h"

#include <QFile>

// The app library is static: without a reference the linker would drop the icons.
static void InitIcons() {
    Q_INIT_RESOURCE(kvt40);
}

namespace res {
namespace {
const char* BaseName(int id) {
    switch (id) {
        case 129:
            return "app129";
        case 154:
            return "single154";
        case 155:
            return "calib155";
        case 156:
            return "energy156";
        case 157:
            return "three157";
        case 158:
            return "alarm158";
        case 159:
            return "alarmset159";
        case 160:
            return "demand160";
        case 165:
            return "device165";
        case 176:
            return "update176";
        default:
            return nullptr;
    }
}
}  // namespace

QIcon Icon(const char* name) {
    static const bool once = (InitIcons(), true);
    (void)once;
    QIcon icon;
    for (int size : {16, 32, 64}) {
        const QString path = QStringLiteral(":/icons/%1_%2.png").arg(QLatin1String(name)).arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}

QIcon Icon(int id) {
    const char* base = BaseName(id);
    return base != nullptr ? Icon(base) : QIcon();
}

}  // namespace res
