#pragma once
// The one place where a cell's colour role becomes RGB.

#include <QColor>

#include "formkit/CellTable.h"

namespace cellcolours {

// The ordinary background of the read-out grids.
inline const QColor kNormal{255, 255, 213};
inline const QColor kHeader{236, 236, 236};
inline const QColor kAlarm{255, 0, 0};
// A result cell holding NG: red, its black text still readable on it.
inline const QColor kNg{255, 0, 0};
inline const QColor kText{0, 0, 0};

inline QColor Background(CellRole role, const QColor& normal) {
    switch (role) {
        case CellRole::Header:
            return kHeader;
        case CellRole::Alarm:
            return kAlarm;
        case CellRole::Ng:
            return kNg;
        case CellRole::Normal:
            break;
    }
    return normal;
}

inline QColor Foreground(CellRole) {
    return kText;
}

}  // namespace cellcolours
