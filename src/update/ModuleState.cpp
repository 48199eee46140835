#include "update/ModuleState.h"

std::string_view ModuleStateText(ModuleState state) {
    switch (state) {
        case ModuleState::Blank:
            return "";
        case ModuleState::Waiting:
            return "等待";
        case ModuleState::Queued:
            return "等待中";
        case ModuleState::Updating:
            return "升级中......";
        case ModuleState::UpdatedCalOk:
            return "升级成功,校表正确!";
        case ModuleState::UpdatedCalChanged:
            return "升级成功,校表错误!";
        case ModuleState::UpdatedNoReference:
            return "升级成功,无校表参照!";
        case ModuleState::Failed:
            return "升级失败!";
        case ModuleState::ImageUnreadable:
            return "升级失败,文件不可读!";
        case ModuleState::PathTooLong:
            return "升级失败,路径过长!";
        case ModuleState::NotUpdatedPaused:
            return "未升级,已暂停!";
        case ModuleState::NotUpdatedNoAnswer:
            return "未升级,模块无应答!";
    }
    return "";
}

bool IsFinal(ModuleState state) {
    switch (state) {
        case ModuleState::UpdatedCalOk:
        case ModuleState::UpdatedCalChanged:
        case ModuleState::UpdatedNoReference:
        case ModuleState::Failed:
        case ModuleState::ImageUnreadable:
        case ModuleState::PathTooLong:
        case ModuleState::NotUpdatedPaused:
        case ModuleState::NotUpdatedNoAnswer:
            return true;
        default:
            return false;
    }
}

bool IsDelivered(ModuleState state) {
    return state == ModuleState::UpdatedCalOk || state == ModuleState::UpdatedCalChanged ||
           state == ModuleState::UpdatedNoReference;
}
