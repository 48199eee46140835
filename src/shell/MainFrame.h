#pragma once
// The main window: menu 128, toolbar, status bar with the connection pane, the " Items "
// bar at the left and one form at a time in the client area.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "formkit/FormContext.h"
#include "formkit/WaitCursorClock.h"

class CCommSettingDlg;
class CItemBar;
class CTrafficDlg;
class QAction;
class QDialog;
class QLabel;
class QScrollArea;
class CFormView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The link every form and the Connect dialog use, the clock their waits go through,
    // the sink that answers their questions and the wall clock of the times they show.
    explicit CMainFrame(FormContext ctx, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // How Connect runs its dialog: exec() by default; tests and --connect fill it in and
    // press Connect themselves. Returns whether the dialog ended with OK.
    using DialogRunner = std::function<bool(CCommSettingDlg&)>;
    void SetDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }
    // How Connect builds its dialog (tests hand in one on an in-memory port).
    using DialogFactory = std::function<CCommSettingDlg*(QWidget* parent)>;
    void SetDialogFactory(DialogFactory factory) { factory_ = std::move(factory); }

    void OnConnect();
    void OnStop();
    void OnItemWindow();
    CTrafficDlg* OnTraffic();
    void OnAbout();
    // Connect only while the port is closed, Stop only while it is open.
    void UpdateCommandUi();
    // Brings menu, toolbar and connection pane in line with the port when it changed behind
    // their back (the update's pause closed it, a worker or a form found it lost); the watch
    // timer calls it every kPortWatchMs, and a stopped cycle at once.
    void SyncPortState();
    static constexpr int kPortWatchMs = 100;
    const QTimer& PortWatch() const { return portWatch_; }

    // Code 1 of the navigation bar: an item was clicked in the selected folder.
    void OnNavItemClicked(int folder, int item);
    // A fresh form for formId in the client area; the old one is destroyed with its timer.
    // False, and nothing changes, when the form shown may not be left (its MayLeave).
    bool SwitchToForm(int formId);
    // The title text and form of a form reached from the menu (139, 142, 148).
    void OpenExtraForm(int formId, const QString& text);

    // Opens a form as the user would: its navigation item, else its menu entry.
    bool OpenForm(int formId);

    QAction* Action(int id) const;
    QString StatusText() const { return status_; }
    QWidget* Form() const;
    // The client area: the form in a scroll area, so a window smaller than the form scrolls.
    QScrollArea* ClientArea() const { return client_; }
    // Pane 0 when the pointer is on no command: the notice of a stopped cycle, or empty.
    QString NoticeText() const;
    int FormId() const { return formId_; }
    CItemBar& ItemBar() const { return *itemBar_; }
    QToolBar* ToolBar() const { return toolBar_; }
    // Dialog 100.
    QDialog* CreateAboutBox();
    // The connection pane from the link as it is now (a form moved it to a new address or rate).
    void ShowLinkStatus();

protected:
    // The window closes only once the form shown may be left, and only after its work ended.
    void closeEvent(QCloseEvent* e) override;

private:
    bool MayLeaveForm();
    void PutForm(int formId);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void SetStatus(const QString& text);
    void ShowNotice(const QString& text);

    // Every wait of the forms and dialogs on the user-interface thread shows the wait cursor.
    WaitCursorClock cursorClock_;
    FormContext ctx_;
    DialogRunner runner_;
    DialogFactory factory_;
    std::map<int, QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    CItemBar* itemBar_ = nullptr;
    QLabel* connPane_ = nullptr;
    QLabel* linkPane_ = nullptr;
    std::uint64_t summarySeq_ = 0;  // the monitor's last frame when the summary was made
    int summaryTicks_ = 0;
    static constexpr int kSummaryEveryTicks = 1000 / kPortWatchMs;
    QLabel* noticePane_ = nullptr;
    QScrollArea* client_ = nullptr;
    QString status_;
    // The port of the last successful connect: the next Connect dialog offers it.
    std::string lastPort_;
    int formId_ = 0;
    QTimer portWatch_;
    bool shownOpen_ = false;  // the port state SyncPortState last brought the window in line with
    std::string shownLost_;
};
