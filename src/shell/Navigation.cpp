#include "shell/Navigation.h"

#include <QList>

#include "resources/Resources.h"
#include "widgets/GfxOutBarCtrl.h"

namespace {
int g_internal = 0;

struct NavItem {
    int folder;
    const char* text;
    int image;
    int formId;
    bool internal;
};

constexpr NavItem kItems[] = {
    {0, "Single-phase", 0, res::IDD_MEASURES, false},
    {0, "Three-phase circuit", 1, res::IDD_TIME_E, false},
    {0, "Alarm", 2, res::IDD_ALARM, false},
    {1, "Device setting", 5, res::IDD_SET_PARM, false},
    {1, "Alarm setting", 6, res::IDD_SET_ALARM, false},
    {1, "设备设置", 7, res::IDD_SET_DEVICE, true},
    {1, "仪表校准", 8, res::IDD_RMS_ADJUST, true},
    {1, "在线升级", 8, res::IDD_UPDATE, true},
};
}  // namespace

int InternalItems() { return g_internal; }
void SetInternalItems(int on) { g_internal = on; }

void FillNavigation(CGfxOutBarCtrl& bar) {
    QList<QIcon> large;
    QList<QIcon> small;
    for (int id : res::kNavIcons) {
        large.append(res::Icon(id));
        small.append(res::Icon(id));
    }
    bar.SetImageList(large, small);
    bar.AddFolder(QStringLiteral("Real-time data"));
    bar.AddFolder(QStringLiteral("Setting"));
    for (const NavItem& it : kItems) {
        if (it.internal && g_internal != 1) continue;
        bar.InsertItem(it.folder, 1000, QString::fromUtf8(it.text), it.image);
    }
    bar.SetSelFolder(0);
}

std::optional<int> FormIdOf(int folder, int item) {
    int pos = 0;
    int f = -1;
    for (const NavItem& it : kItems) {
        if (it.internal && g_internal != 1) continue;
        if (it.folder != f) {
            f = it.folder;
            pos = 0;
        }
        if (it.folder == folder && pos == item) return it.formId;
        ++pos;
    }
    return std::nullopt;
}
