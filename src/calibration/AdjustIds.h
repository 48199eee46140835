#pragma once
// Control ids and the fixed texts of the calibration form (template 164) and its dialogs
// (templates 167, 169, 172, 173). Toolkit-free, so core, CLI and forms share them.

namespace adjust {

// Template 164.
inline constexpr int kFormId = 164;
inline constexpr int IDC_GRID = 1002;
inline constexpr int IDC_INCOMING = 1094;       // 进线
inline constexpr int IDC_OUTGOING = 1095;       // 出线
inline constexpr int IDC_READ_CT = 1086;        // 读取CT模块
inline constexpr int IDC_CIRCUIT_LIST = 1099;   // CT模块地址
inline constexpr int IDC_CT_RATIO = 1096;       // CT变比
inline constexpr int IDC_STD_SOURCE = 1034;     // 标准源设置
inline constexpr int IDC_METER_TEST = 1025;     // 仪表测试
inline constexpr int IDC_METER_CAL = 1032;      // 仪表校准
inline constexpr int IDC_ANGLE_CAL = 1033;      // 角度校准
inline constexpr int IDC_STOP = 1038;           // 停止
inline constexpr int IDC_RESTORE = 1074;        // 系数恢复
inline constexpr int IDC_HELP = 1036;           // 使用说明
inline constexpr int IDC_REPORT = 1037;         // 测试报告
inline constexpr int IDC_DEAD_ZONE = 1069;      // 死区设置
inline constexpr int IDC_OLD_RESTORE = 1035;    // hidden 系数恢复
inline constexpr int IDC_ANGLE_RESTORE = 1065;  // hidden 角度恢复
inline constexpr int IDC_USER_RESTORE = 1073;   // hidden 恢复用户系数
inline constexpr int IDC_CURRENT_CLASS = 1097;  // hidden 电流等级
inline constexpr int IDC_HIDDEN_NUMBER = 1091;  // hidden edit
inline constexpr int IDC_VOLTAGE_STEP0 = 1042;  // 1042..1046
inline constexpr int IDC_CURRENT_STEP0 = 1047;  // 1047..1052
inline constexpr int IDC_PF_STEP0 = 1053;       // 1053..1057

// Template 167 (测试报告).
inline constexpr int kReportDlgId = 167;
inline constexpr int IDC_SERIAL = 1078;
inline constexpr int IDC_MODEL = 1079;
inline constexpr int IDC_ENGLISH = 1087;
inline constexpr int IDC_RATED_VOLTAGE = 1088;
inline constexpr int IDC_RATED_CURRENT = 1089;
inline constexpr int IDC_TEST_VOLTAGE = 1090;
inline constexpr int IDC_TEST_CURRENT = 1091;
inline constexpr int IDC_DI = 1092;
inline constexpr int IDC_ANALOG = 1093;
inline constexpr int IDC_TESTER = 1094;

// Template 169 (标准源设置).
inline constexpr int kStdSourceDlgId = 169;
inline constexpr int IDC_STD_UA = 1040;
inline constexpr int IDC_STD_UB = 1041;
inline constexpr int IDC_STD_UC = 1043;
inline constexpr int IDC_STD_IA = 1047;
inline constexpr int IDC_STD_IB = 1048;
inline constexpr int IDC_STD_IC = 1049;

// Template 172 (校表说明) and 173 (死区设置).
inline constexpr int kHelpDlgId = 172;
inline constexpr int IDC_HELP_EDIT = 1068;
inline constexpr int kDeadZoneDlgId = 173;
inline constexpr int IDC_DZ_READ = 1037;
inline constexpr int IDC_DZ_SET = 1038;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Messages.
inline constexpr const char* kWarning = "警告";
inline constexpr const char* kNotice = "提示";
// A failed reply inside a tick carries the full-width mark; everywhere else the ASCII one.
inline constexpr const char* kCannotReadInTick = "无法读取仪表数据！";
inline constexpr const char* kCannotRead = "无法读取仪表数据!";
inline constexpr const char* kPfNotOne = "功率因数不为1.0！";
inline constexpr const char* kPfNotHalfL = "功率因数不为0.5L！";
inline constexpr const char* kNoSignal = "未加载信号！";
inline constexpr const char* kCalibrationDone = "校准完成!";
inline constexpr const char* kDefaultsDone = "默认系数完成!";
inline constexpr const char* kSaved = "保存成功!";
// Refusals of a calibration whose formulas would divide by zero or overflow a register.
inline constexpr const char* kCtRatioZero = "CT变比为0，无法校准！";
inline constexpr const char* kStandardZero = "标准源数值为0，无法校准！";
inline constexpr const char* kAverageZero = "仪表读数平均值为0，无法校准！";
// A coefficient outside its field: the readings are far from the standard values, so the
// source is not set as the tool was told. Nothing is written.
inline constexpr const char* kOutOfRange = "校准系数超出范围，标准源数值看来有误，未写入任何系数！";

}  // namespace adjust
