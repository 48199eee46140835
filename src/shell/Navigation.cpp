#include "shell/Navigation.h"

#include <QList>

#include "resources/Resources.h"
#include "shell/FormRegistry.h"
#include "widgets/GfxOutBarCtrl.h"

namespace {
int g_internal = 0;

int FolderOf(FormPlace place) {
    switch (place) {
        case FormPlace::RealTimeData:
            return 0;
        case FormPlace::Setting:
            return 1;
        case FormPlace::ViewMenu:
            break;
    }
    return -1;
}

bool Offered(const FormRow& row) {
    return FolderOf(row.place) >= 0 && (!row.internal || g_internal == 1);
}
}  // namespace

int InternalItems() {
    return g_internal;
}
void SetInternalItems(int on) {
    g_internal = on;
}

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
    for (const FormRow& row : FormTable())
        if (Offered(row)) bar.InsertItem(FolderOf(row.place), 1000, FormText(row), row.image);
    bar.SetSelFolder(0);
}

std::optional<int> FormIdOf(int folder, int item) {
    int pos = 0;
    for (const FormRow& row : FormTable()) {
        if (!Offered(row) || FolderOf(row.place) != folder) continue;
        if (pos == item) return row.viewId;
        ++pos;
    }
    return std::nullopt;
}
