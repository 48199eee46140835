#pragma once
// The one place where a cell's colour role becomes RGB.

#include <QColor>

#include "widgets/CellTable.h"

namespace cellcolours {

// The ordinary background of the read-out grids.
inline const QColor kNormal{255, 255, 213};
inline const QColor kHeader{236, 236, 236};
inline const QColor kAlarm{255, 0, 0};
inline const QColor kNgText{255, 0, 0};
inline const QColor kText{0, 0, 0};

inline QColor Background(CellRole role, const QColor& normal) {
    switch (role) {
    case CellRole::Header: return kHeader;
    case CellRole::Alarm: return kAlarm;
    case CellRole::Normal:
    case CellRole::Ng: break;
    }
    return normal;
}

inline QColor Foreground(CellRole role) { return role == CellRole::Ng ? kNgText : kText; }

}  // namespace cellcolours
