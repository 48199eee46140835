#pragma once
// Ids and texts of the menus, toolbar, status bar, dialogs and the navigation items,
// and the icons by their resource number.

#include <QIcon>
#include <QString>

namespace res {

// Menu 128 commands.
inline constexpr int ID_CONNECT = 32771;
inline constexpr int ID_STOP = 32772;
inline constexpr int ID_ITEM_WINDOW = 32773;
inline constexpr int ID_TRAFFIC = 32774;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDS_APP_TITLE = 57344;

// Windows.
inline constexpr int ID_ITEM_BAR = 122;
inline constexpr int ID_OUT_BAR = 102;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_COMM_SETTING = 137;
inline constexpr int IDD_TRAFFIC = 178;
inline constexpr int IDD_MODE_SELECT = 170;

// Control ids of template 137 and 178.
inline constexpr int IDC_ADDRESS = 1000;
inline constexpr int IDC_PORT = 1001;
inline constexpr int IDC_BAUD = 1002;
inline constexpr int IDC_DATABITS = 1003;
inline constexpr int IDC_PARITY = 1004;
inline constexpr int IDC_STOPBITS = 1005;
inline constexpr int IDC_TRAFFIC_EDIT = 1054;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Control ids of form 101.
inline constexpr int IDC_GRID = 1002;
inline constexpr int IDC_READ_DATA = 1037;
inline constexpr int IDC_CLEAR_ENERGY = 1086;
inline constexpr int IDC_CT_ADDRESS = 1085;
inline constexpr int IDC_CIRCUIT = 1091;

inline const QString kAppTitle = QStringLiteral("KVT40");
inline const QString kDocString = QStringLiteral("KVT40\n\nHXD7\n\n\nKVT72.Document\nHXD7 Document");
inline const QString kTitlePrefix = QStringLiteral("KVT40-Testing Software-V1.0.4");
inline const QString kAboutTitle = QStringLiteral("About KVT40");
inline const QString kAboutText = QStringLiteral("KVT40 Version 1.0");
inline const QString kItemsCaption = QStringLiteral(" Items ");

// Status prompts (text before "\n" in the status bar, after it as the tool tip).
inline const QString kPromptStop = QStringLiteral("停止通讯");
inline const QString kPromptItemWindow = QStringLiteral("显示或隐藏项目窗口\n显隐项目窗口");

// Icons of the navigation bar, in list order (resource numbers).
inline constexpr int kNavIcons[14] = {154, 157, 158, 156, 160, 158, 159, 165, 155, 176, 129, 129, 129, 129};

// An icon by resource number (129 application, 154..176 navigation) or by name
// ("connect", "stop", "about"); a null icon for an unknown one.
QIcon Icon(int id);
QIcon Icon(const char* name);

}  // namespace res
