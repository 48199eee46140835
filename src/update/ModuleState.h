#pragma once
// What the state column of the update grid says about one module, and the fixed texts of
// the update's messages. The worker stores a state, the form and kvt40ctl show its text.

#include <cstdint>
#include <string_view>

enum class ModuleState : std::uint8_t {
    Blank,               // row without a module
    Waiting,             // found by the scan, idle
    Queued,              // selected for the running batch
    Updating,            // transfer running, or delivered without a verdict
    UpdatedCalOk,        // delivered, calibration snapshot unchanged
    UpdatedCalChanged,   // delivered, calibration snapshot changed
    UpdatedNoReference,  // delivered, but no snapshot was read before the handshake
    Failed,              // the transfer failed or was paused
    ImageUnreadable,     // the image could not be opened or read: nothing sent
    PathTooLong,         // the image path does not fit the header block: nothing sent
    NotUpdatedPaused,    // queued, but the port was closed (paused, lost) before its turn
    NotUpdatedNoAnswer,  // queued, but its bootloader gave no "==" or no "C": nothing sent
};

std::string_view ModuleStateText(ModuleState state);
// True for the states that end a module's update for good (a verdict or a failure).
bool IsFinal(ModuleState state);
// True for the verdicts of a module whose image was delivered whole.
bool IsDelivered(ModuleState state);

namespace update_text {
inline constexpr std::string_view kError = "Error";
inline constexpr std::string_view kNotice = "提示";
inline constexpr std::string_view kWarningCaption = "警告(warning))";
inline constexpr std::string_view kCannotOpenPort = "Can not open port !";
inline constexpr std::string_view kCannotConnect = "Can not Connextion !";
inline constexpr std::string_view kRangeWarning =
    "查找的地址不能大于247，或者小于1(Find the address can not be greater than 247, or less than 1)!";
inline constexpr std::string_view kAddImage = "请添加.bin文件!";
inline constexpr std::string_view kAddImageRetry = "请添加.bin文件(Please add .bin file)!";
inline constexpr std::string_view kSelectOne = "请至少选中一个!";
inline constexpr std::string_view kAskPause = "暂停升级?";
inline constexpr std::string_view kPaused = "升级已暂停!!!!!!";
inline constexpr std::string_view kWaitTenSeconds = "请等待十秒再次升级!!!";
inline constexpr std::string_view kRetrySucceeded = "升级成功!";
inline constexpr std::string_view kRetryFailed = "升级失败!";
// Only one worker may own the link: a batch and a retry never transfer at once.
inline constexpr std::string_view kLinkBusy = "另一个升级正在进行,请稍候!";
// The scan and a transfer never share the port: a scan's reads swallow acknowledges.
inline constexpr std::string_view kScanRunning = "正在查询模块,请先停止查询再升级!";
// 升级 after a pause: the pause closed the port, nothing could be sent.
inline constexpr std::string_view kPortClosedConnect =
    "串口已关闭,无法升级。请先连接(Connect)模块,再按升级。(The port is closed: connect, then update again.)";
// The retry's bootloader never answered "C": say so instead of ending in silence.
inline constexpr std::string_view kRetryNoBootloader =
    "没有模块在引导程序中应答(未收到\"C\"),未发送任何数据。\n"
    "失败再升级只用于停在引导程序中的模块;请检查接线和串口,运行中的模块请在升级页面按\"升级\"。\n"
    "(No module answered in its bootloader: nothing was sent.)";
// Leaving the update form or closing the window while a transfer runs.
inline constexpr std::string_view kAskLeaveDuringUpdate =
    "升级正在进行!(An update is running)\n"
    "确定(OK): 暂停升级并离开(pause it and leave)\n"
    "取消(Cancel): 留下, 升级继续(stay)";
}  // namespace update_text
