// The main frame offscreen: menus, toolbar, status, navigation, form switching and the
// Connect/Stop enabling, with the dialog on the in-memory sim port.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolBar>
#include <algorithm>
#include <thread>

#include "calibration/RMSAdjustForm.h"
#include "calibration/StandardSourceFollower.h"
#include "formkit/BusyCursor.h"
#include "link/LinkMonitor.h"
#include "link/LinkState.h"
#include "link/ModbusSession.h"
#include "link/SerialPort.h"
#include "link/UpdateLog.h"
#include "monitor/AlarmForm.h"
#include "monitor/MeasuresForm.h"
#include "shell/CommSettingDlg.h"
#include "shell/FormRegistry.h"
#include "shell/FrameTableModel.h"
#include "shell/MainFrame.h"
#include "shell/Navigation.h"
#include "shell/PlaceholderForm.h"
#include "shell/TrafficDlg.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Pty.h"
#include "support/RecordingSink.h"
#include "support/ScriptedPort.h"
#include "support/SimLink.h"
#include "update/UpdateFixture.h"
#include "update/UpdateForm.h"
#include "widgets/GridCtrl.h"
#include "widgets/ItemBar.h"

namespace {
class MainFrameTest : public ::testing::Test, protected SimLink {
protected:
    MainFrameTest() : SimLink(5, PortAtStart::Closed) { SetInternalItems(0); }
    ~MainFrameTest() override {
        frame.reset();
        SetInternalItems(0);
    }
    CMainFrame& Frame() {
        if (!frame) {
            frame = std::make_unique<CMainFrame>(FormContext{run, link, clock, sink, wall});
            frame->SetDialogFactory([this](QWidget* parent) {
                return new CCommSettingDlg(
                    link, sink, clock, port,
                    [this](const std::string&, int baud, int, int, int) { return port.Open(baud); }, parent);
            });
            frame->show();
        }
        return *frame;
    }
    // Connect with the dialog's own Connect button on "COM1" at this address.
    void Connect(int address) { Connect(QString::number(address)); }
    void Connect(const QString& address) {
        Frame().SetDialogRunner([address](CCommSettingDlg& dlg) {
            dlg.AddressEdit()->setText(address);
            dlg.PortList()->insertItem(0, QStringLiteral("COM1"));
            dlg.PortList()->setCurrentIndex(0);
            return dlg.OnConnectButton();
        });
        Frame().OnConnect();
    }
    bool Enabled(int id) { return Frame().Action(id)->isEnabled(); }
    QAction* ToolButton(int pos) { return Frame().ToolBar()->actions().value(pos); }

    RecordingSink sink;
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
    std::unique_ptr<CMainFrame> frame;
};

// Notes, at each wait, whether the wait cursor shows.
class CursorProbeClock final : public Clock {
public:
    explicit CursorProbeClock(Clock& inner) : inner_(inner) {}
    void sleep(int ms) override {
        seen.push_back(BusyCursor::Shown());
        inner_.sleep(ms);
    }
    void sleepFor(Micros d) override {
        seen.push_back(BusyCursor::Shown());
        inner_.sleepFor(d);
    }
    Micros now() const override { return inner_.now(); }
    std::vector<bool> seen;

private:
    Clock& inner_;
};

QStringList MenuTexts(QMenuBar* bar) {
    QStringList texts;
    for (QAction* a : bar->actions()) texts << a->text();
    return texts;
}
}  // namespace

TEST_F(MainFrameTest, StartsWithItsMenusBarsAndNoConnection) {
    CMainFrame& f = Frame();
    EXPECT_EQ(f.size(), QSize(900, 750));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("KVT40"));
    EXPECT_EQ(f.StatusText(), QStringLiteral("\tNo Connection"));
    auto* pane = f.findChild<QLabel*>(QStringLiteral("pane1"));
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->text(), QStringLiteral("No Connection"));
    EXPECT_TRUE(pane->alignment() & Qt::AlignHCenter);

    EXPECT_EQ(MenuTexts(f.menuBar()),
              (QStringList{QStringLiteral("Connect"), QStringLiteral("View(&V)"), QStringLiteral("Help(&H)"),
                           QStringLiteral("Communication Traffic")}));
    const std::pair<int, const char*> items[] = {
        {32771, "Connect(&C)"},          {32772, "Stop(&S)"},        {59392, "Tool"},
        {59393, "Status bar(&S)"},       {32773, "Item window(&I)"}, {57664, "About KVT40 Software(&A)..."},
        {32774, "Communication Traffic"}};
    for (const auto& [id, text] : items) {
        ASSERT_NE(f.Action(id), nullptr) << id;
        EXPECT_EQ(f.Action(id)->text(), QString::fromUtf8(text));
        EXPECT_EQ(f.Action(id)->data().toInt(), id);
    }
    EXPECT_EQ(f.Action(32772)->statusTip(), QStringLiteral("停止通讯"));
    EXPECT_EQ(f.Action(32773)->statusTip(), QStringLiteral("显示或隐藏项目窗口"));

    // Toolbar: Stop, Connect, separator, About, each with an icon.
    ASSERT_EQ(f.ToolBar()->actions().size(), 4);
    EXPECT_EQ(ToolButton(0), f.Action(32772));
    EXPECT_EQ(ToolButton(1), f.Action(32771));
    EXPECT_TRUE(ToolButton(2)->isSeparator());
    EXPECT_EQ(ToolButton(3), f.Action(57664));
    for (int pos : {0, 1, 3}) EXPECT_FALSE(ToolButton(pos)->icon().isNull());

    EXPECT_EQ(f.ItemBar().windowTitle(), QStringLiteral(" Items "));
    EXPECT_EQ(f.dockWidgetArea(&f.ItemBar()), Qt::LeftDockWidgetArea);
    EXPECT_TRUE(f.Action(32773)->isChecked());
    f.Action(32773)->trigger();
    EXPECT_FALSE(f.ItemBar().isVisible());
    EXPECT_FALSE(f.Action(32773)->isChecked());
    f.Action(32773)->trigger();
    EXPECT_TRUE(f.ItemBar().isVisible());
    EXPECT_TRUE(f.Action(32773)->isChecked());

    std::unique_ptr<QDialog> about(f.CreateAboutBox());
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About KVT40"));
    bool hasText = false;
    for (QLabel* l : about->findChildren<QLabel*>())
        hasText = hasText || l->text() == QStringLiteral("KVT40 Version 1.0");
    EXPECT_TRUE(hasText);
}

TEST_F(MainFrameTest, ConnectAndStopEnableEachOtherInMenuAndToolbar) {
    EXPECT_TRUE(Enabled(32771));
    EXPECT_FALSE(Enabled(32772));
    EXPECT_FALSE(ToolButton(0)->isEnabled());  // Stop
    EXPECT_TRUE(ToolButton(1)->isEnabled());   // Connect

    Connect(5);
    ASSERT_FALSE(port.Sent().empty());
    EXPECT_EQ(port.Sent()[0], WithCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(Frame().StatusText(), QStringLiteral("\t[ Device ID : 5 ] COM1 9600bps "));
    EXPECT_EQ(link.deviceAddress, 5);
    EXPECT_FALSE(Enabled(32771));
    EXPECT_TRUE(Enabled(32772));
    EXPECT_TRUE(ToolButton(0)->isEnabled());
    EXPECT_FALSE(ToolButton(1)->isEnabled());
    EXPECT_TRUE(sink.messages.empty());

    Frame().Action(32772)->trigger();
    EXPECT_EQ(Frame().StatusText(), QStringLiteral("\tNo Connection"));
    EXPECT_TRUE(Enabled(32771));
    EXPECT_FALSE(Enabled(32772));
}

TEST_F(MainFrameTest, CancelAfterCommunicationFailedKeepsThePortOpenAndTheOldAddress) {
    Connect(9);  // nobody answers at 9
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Communication failed!");
    EXPECT_EQ(sink.messages[0].caption, "Error");
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(Frame().StatusText(), QStringLiteral("\tNo Connection"));
    EXPECT_EQ(link.deviceAddress, 1);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(Enabled(32771));
    EXPECT_TRUE(Enabled(32772));
}

TEST_F(MainFrameTest, TheDialogShowsStoredValuesAndKeepsItsHiddenRowsHidden) {
    link.deviceAddress = 7;
    link.baudIndex = 2;
    CCommSettingDlg dlg(link, sink, clock, port, [](const std::string&, int, int, int, int) { return true; });
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Communication Setting"));
    EXPECT_EQ(dlg.AddressEdit()->text(), QStringLiteral("7"));
    EXPECT_EQ(dlg.BaudList()->currentText(), QStringLiteral("19200"));
    EXPECT_EQ(dlg.BaudList()->count(), 3);
    EXPECT_EQ(dlg.PortList()->currentIndex(), dlg.PortList()->count() > 0 ? 0 : -1);
    EXPECT_NE(dlg.PortList()->findText(QStringLiteral("Virtual module")), -1);
    // Any path can be typed, spaces around it dropped.
    ASSERT_TRUE(dlg.PortList()->isEditable());
    dlg.PortList()->setEditText(QStringLiteral(" /dev/serial/by-id/usb-FTDI-if00-port0 "));
    EXPECT_EQ(dlg.Settings().port, "/dev/serial/by-id/usb-FTDI-if00-port0");
    for (QComboBox* hidden : {dlg.DataBitsList(), dlg.ParityList(), dlg.StopBitsList()}) {
        EXPECT_FALSE(hidden->isVisibleTo(&dlg));
        EXPECT_FALSE(hidden->isEnabled());
    }
    EXPECT_EQ(dlg.DataBitsList()->currentText(), QStringLiteral("8"));
    EXPECT_EQ(dlg.ParityList()->currentText(), QStringLiteral("N"));
    EXPECT_EQ(dlg.StopBitsList()->currentText(), QStringLiteral("1"));
    const CommSettings s = dlg.Settings();
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.baudIndex, 2);
}

TEST_F(MainFrameTest, ClickingAnItemSetsTheTitleAndBuildsAFreshFormEachTime) {
    CMainFrame& f = Frame();
    CGfxOutBarCtrl& bar = f.ItemBar().OutBar();
    bar.ClickItem(0, 2);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("KVT40-Testing Software-V1.0.4 - Alarm"));
    EXPECT_EQ(f.FormId(), 147);
    QPointer<QWidget> first = f.Form();
    ASSERT_TRUE(qobject_cast<CAlarmForm*>(first.data()));
    bar.ClickItem(0, 2);
    EXPECT_TRUE(first.isNull());  // destroyed at once, not later
    EXPECT_NE(f.Form(), nullptr);

    // A folder title only opens the folder.
    QPointer<QWidget> shown = f.Form();
    bar.SetSelFolder(1);
    EXPECT_EQ(f.Form(), shown.data());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("KVT40-Testing Software-V1.0.4 - Alarm"));

    bar.ClickItem(1, 1);
    EXPECT_EQ(f.FormId(), 150);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("KVT40-Testing Software-V1.0.4 - Alarm setting"));
}

TEST_F(MainFrameTest, EveryRowOfTheFormTableBuildsTheFormItNames) {
    SetInternalItems(1);
    CMainFrame& f = Frame();
    for (const FormRow& row : FormTable()) {
        ASSERT_TRUE(f.SwitchToForm(row.viewId)) << row.viewId;
        EXPECT_EQ(f.FormId(), row.viewId);
        ASSERT_NE(f.Form(), nullptr);
        EXPECT_EQ(static_cast<CFormView*>(f.Form())->FormId(), row.viewId);
        EXPECT_FALSE(qobject_cast<CPlaceholderForm*>(f.Form())) << row.viewId;
    }
}

TEST_F(MainFrameTest, SwitchingBackToTheMeasuresFormRestartsItsCycle) {
    port.Open(9600);
    link.deviceAddress = 5;
    CMainFrame& f = Frame();
    f.ItemBar().OutBar().ClickItem(0, 0);
    QPointer<CMeasuresForm> form = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_FALSE(form.isNull());
    EXPECT_TRUE(form->TimerActive());
    for (int i = 0; i < 3; ++i) {
        clock.advanceMs(600);
        form->OnTimer();
    }
    ASSERT_EQ(form->Measures().PollStep(), 3);
    const std::size_t sent = port.Sent().size();
    f.ItemBar().OutBar().ClickItem(0, 0);
    EXPECT_TRUE(form.isNull());
    auto* fresh = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Measures().PollStep(), 0);
    ASSERT_EQ(port.Sent().size(), sent + 1);
    EXPECT_EQ(port.Sent().back(), WithCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_TRUE(fresh->TimerActive());
    clock.advanceMs(600);
    fresh->OnTimer();
    EXPECT_EQ(fresh->Measures().PollStep(), 1);
}

TEST_F(MainFrameTest, InternalItemsAppearOnlyWithTheSwitch) {
    {
        CGfxOutBarCtrl& bar = Frame().ItemBar().OutBar();
        ASSERT_EQ(bar.GetFolderCount(), 2);
        EXPECT_EQ(bar.GetFolderText(0), QStringLiteral("Real-time data"));
        EXPECT_EQ(bar.GetFolderText(1), QStringLiteral("Setting"));
        EXPECT_EQ(bar.GetItemCount(0), 3);
        EXPECT_EQ(bar.GetItemCount(1), 2);
        bar.ClickItem(1, 2);  // no such item with the switch off
        EXPECT_EQ(Frame().FormId(), 0);
        EXPECT_EQ(Frame().windowTitle(), QStringLiteral("KVT40"));
    }
    frame.reset();
    SetInternalItems(1);
    CGfxOutBarCtrl& bar = Frame().ItemBar().OutBar();
    ASSERT_EQ(bar.GetItemCount(1), 5);
    bar.SetSelFolder(1);
    EXPECT_EQ(bar.GetItemText(2), QStringLiteral("设备设置"));
    EXPECT_EQ(bar.GetItemText(3), QStringLiteral("仪表校准"));
    EXPECT_EQ(bar.GetItemText(4), QStringLiteral("在线升级"));
    EXPECT_EQ(bar.GetItemImage(1, 4), bar.GetItemImage(1, 3));  // update shares calibration's icon
    bar.ClickItem(1, 4);
    EXPECT_EQ(Frame().FormId(), 174);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("KVT40-Testing Software-V1.0.4 - 在线升级"));
}

TEST_F(MainFrameTest, FormsWithoutANavigationItemAreReachedFromTheViewMenu) {
    for (int id : {139, 142, 148}) {
        ASSERT_NE(Frame().Action(id), nullptr) << id;
        Frame().Action(id)->trigger();
        EXPECT_EQ(Frame().FormId(), id);
        EXPECT_TRUE(Frame().windowTitle().startsWith(QStringLiteral("KVT40-Testing Software-V1.0.4 - ")));
    }
}

TEST_F(MainFrameTest, EachTrafficWindowIsANewSnapshotOfTheUpdateLog) {
    const QString before =
        QString::fromStdString(run.updateLog.Text()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QPointer<CTrafficDlg> a = Frame().OnTraffic();
    EXPECT_EQ(a->windowTitle(), QStringLiteral("Communication Traffic"));
    EXPECT_FALSE(a->isModal());
    EXPECT_TRUE(a->isVisible());
    EXPECT_EQ(a->Edit()->toPlainText(), before);

    run.updateLog.Append("C");
    run.updateLog.Append("\xC9\xFD\xBC\xB6ok");  // a bootloader that answers in GBK
    QPointer<CTrafficDlg> b = Frame().OnTraffic();
    EXPECT_NE(a.data(), b.data());
    EXPECT_EQ(a->Edit()->toPlainText(), before);  // not refreshed
    EXPECT_TRUE(b->Edit()->toPlainText().endsWith(QStringLiteral("C\n升级ok\n")));

    b->Edit()->setPlainText(QStringLiteral("typed"));
    EXPECT_NE(run.updateLog.Text(), "typed");

    QPushButton* exitBtn = nullptr;
    for (QPushButton* p : b->findChildren<QPushButton*>())
        if (p->text() == QStringLiteral("Exit")) exitBtn = p;
    ASSERT_NE(exitBtn, nullptr);
    exitBtn->click();
    EXPECT_FALSE(b->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(b.isNull());
    EXPECT_FALSE(a.isNull());
}

// The frame monitor shows what sessions on the run's link noted: rows on its refresh timer,
// one address or all, nothing new while paused, saved as the trace's lines; a file that
// cannot be written says so. The status bar carries the counts in short.
TEST_F(MainFrameTest, TheFrameMonitorFollowsTheLinkAndSavesItsLines) {
    bus.AddModule(9);
    port.Open(9600);
    link.deviceAddress = 5;
    Frame();
    ModbusSession session(link, clock);
    ASSERT_TRUE(session.ReadRegisters(0, 10, 200));
    QPointer<CTrafficDlg> dlg = Frame().OnTraffic();
    EXPECT_EQ(dlg->Tabs()->currentIndex(), 1);  // no update log yet: the frames first
    EXPECT_EQ(dlg->RefreshTimer().interval(), CTrafficDlg::kRefreshMs);
    EXPECT_TRUE(dlg->RefreshTimer().isActive());
    EXPECT_EQ(dlg->FrameModel().rowCount(), 2);
    EXPECT_GE(dlg->width(),
              dlg->FrameView()->horizontalHeader()->sectionPosition(CFrameTableModel::Hex) +
                  dlg->FrameView()->fontMetrics().horizontalAdvance(QString(23, QLatin1Char('0'))));

    link.deviceAddress = 9;
    EXPECT_FALSE(session.ReadRegisters(0, 200, 200));  // refused before sending: no frame
    ASSERT_TRUE(session.ReadRegisters(0, 2, 200));
    dlg->Refresh();
    dlg->PauseButton()->setChecked(true);
    link.deviceAddress = 5;
    ASSERT_TRUE(session.ReadRegisters(0, 1, 200));
    dlg->Refresh();
    EXPECT_EQ(dlg->FrameModel().rowCount(), 4);
    dlg->PauseButton()->setChecked(false);  // catches up at once
    EXPECT_EQ(dlg->FrameModel().rowCount(), 6);

    ASSERT_EQ(dlg->AddressFilter()->count(), 3);
    EXPECT_EQ(dlg->AddressFilter()->itemText(2), QStringLiteral("Address 9"));
    dlg->AddressFilter()->setCurrentIndex(2);
    EXPECT_EQ(dlg->FrameModel().rowCount(), 2);
    EXPECT_EQ(dlg->FrameModel().index(1, CFrameTableModel::What).data().toString(),
              QStringLiteral("bytes=4"));

    const QString path = QString::fromStdString(::testing::TempDir()) + QStringLiteral("frames.txt");
    ASSERT_TRUE(dlg->SaveFrames(path));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].toStdString(), FrameLineHeader());
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" TX    9 03 start=0,count=2 "))) << lines[1].toStdString();

    EXPECT_FALSE(dlg->SaveFrames(QStringLiteral("/nonexistent/dir/frames.txt")));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Cannot write /nonexistent/dir/frames.txt: No such file or directory");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);

    EXPECT_EQ(dlg->StatisticsTable()->rowCount(), 2);
    EXPECT_EQ(dlg->StatisticsTable()->item(1, 0)->text(), QStringLiteral("9"));
    for (int tick = 0; tick < 1000 / CMainFrame::kPortWatchMs; ++tick)
        Frame().SyncPortState();  // once a second
    auto* summary = Frame().findChild<QLabel*>(QStringLiteral("linkSummary"));
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->text(),
              QStringLiteral("Link: 3 requests, 3 replies, 0 no replies, 0 bad CRC, mean 200 ms"));
    dlg->close();
}

TEST_F(MainFrameTest, AnAddressOutsideOneTo247IsRefusedBeforeThePortIsTouched) {
    for (const QString& typed :
         {QString(), QStringLiteral("0"), QStringLiteral("257"), QStringLiteral("5x")}) {
        sink.messages.clear();
        QString left;
        Frame().SetDialogRunner([&](CCommSettingDlg& dlg) {
            dlg.AddressEdit()->setText(typed);
            const bool ok = dlg.OnConnectButton();
            left = dlg.AddressEdit()->text();
            return ok;
        });
        Frame().OnConnect();
        ASSERT_EQ(sink.messages.size(), 1u) << typed.toStdString();
        EXPECT_EQ(sink.messages[0].text, "Device address must be a number from 1 to 247.");
        EXPECT_EQ(left, typed);  // the box keeps what was typed
        EXPECT_FALSE(port.IsOpen());
        EXPECT_TRUE(port.Sent().empty());
        EXPECT_EQ(Frame().StatusText(), QStringLiteral("\tNo Connection"));
    }
}

TEST_F(MainFrameTest, PaneZeroShowsPromptsAndTheStopNotice) {
    CMainFrame& f = Frame();
    auto* pane0 = f.findChild<QLabel*>(QStringLiteral("pane0"));
    auto* pane1 = f.findChild<QLabel*>(QStringLiteral("pane1"));
    ASSERT_NE(pane0, nullptr);
    QCoreApplication::processEvents();
    EXPECT_GT(pane0->width(), pane1->width());  // the free width is pane 0's

    f.Action(32772)->showStatusText(f.ToolBar());  // the pointer on the Stop button
    EXPECT_EQ(f.statusBar()->currentMessage(), QStringLiteral("停止通讯"));
    f.statusBar()->clearMessage();

    port.Open(9600);
    link.deviceAddress = 5;
    f.ItemBar().OutBar().ClickItem(0, 0);
    auto* form = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    bus.InjectFault(5, {BusFault::Kind::NoReply});
    for (int i = 0; i < 2; ++i) {
        clock.advanceMs(600);
        form->OnTimer();
    }
    EXPECT_EQ(f.NoticeText(), QStringLiteral("No reply from module 5 at 14:02:31; Read data resumes"));
    bus.ClearFault(5);
    form->OnReadData();
    EXPECT_EQ(f.NoticeText(), QString());
}

TEST_F(MainFrameTest, MeasurementHeadersFitTheirCellsAtTheDefaultSize) {
    CMainFrame& f = Frame();
    port.Open(9600);
    f.ItemBar().OutBar().ClickItem(0, 0);
    auto* form = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    QCoreApplication::processEvents();
    CGridCtrl& g = form->Grid();
    int total = 0;
    for (int c = 0; c < g.GetColumnCount(); ++c) {
        total += g.columnWidth(c);
        for (int r : {0, 2}) {
            const QString text = g.GetItemText(r, c);
            QFont font = g.font();
            font.setBold(r == 0);
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(text) + 8, g.columnWidth(c)) << text.toStdString();
        }
    }
    EXPECT_GE(total, g.viewport()->width() - 1);  // stretched to fill
    EXPECT_GE(g.columnWidth(0), 50);
    EXPECT_GE(g.columnWidth(1), 80);
}

// The port vanishes under a polling form, or the update's pause closes it behind the frame's
// back: the form stops, and menu, toolbar and status follow the port without a menu opened.
TEST_F(MainFrameTest, MenuToolbarAndStatusFollowALostOrClosedPort) {
    auto pty = std::make_unique<Pty>();
    CSerialPort serial;
    ASSERT_TRUE(serial.Open(pty->path(), 9600, 8, 0, 0));
    link.port = &serial;
    link.deviceAddress = 5;
    CMainFrame& f = Frame();
    EXPECT_TRUE(f.PortWatch().isActive());
    EXPECT_EQ(f.PortWatch().interval(), CMainFrame::kPortWatchMs);
    f.ItemBar().OutBar().ClickItem(0, 0);
    auto* form = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(form->TimerActive());
    EXPECT_TRUE(ToolButton(0)->isEnabled());

    pty.reset();
    clock.advanceMs(600);
    form->OnTimer();
    EXPECT_FALSE(form->TimerActive());
    EXPECT_EQ(f.NoticeText(), QStringLiteral("Port lost: Input/output error"));
    EXPECT_EQ(f.StatusText(), QStringLiteral("Port lost: Input/output error"));
    EXPECT_FALSE(ToolButton(0)->isEnabled());  // Stop
    EXPECT_TRUE(ToolButton(1)->isEnabled());   // Connect
    EXPECT_FALSE(Enabled(32772));

    Pty next;
    ASSERT_TRUE(serial.Open(next.path(), 9600, 8, 0, 0));
    f.SyncPortState();  // the watch's tick
    EXPECT_TRUE(ToolButton(0)->isEnabled());
    serial.Close();  // as the update's pause does, from the form
    f.SyncPortState();
    EXPECT_FALSE(ToolButton(0)->isEnabled());
    EXPECT_TRUE(ToolButton(1)->isEnabled());
    EXPECT_EQ(f.StatusText(), QStringLiteral("\tNo Connection"));
}

TEST_F(MainFrameTest, TheDialogOffersThePortBaudAndAddressOfTheCurrentLink) {
    port.Close();
    Connect(5);  // on "COM1", which the machine's list does not hold
    ASSERT_EQ(Frame().StatusText(), QStringLiteral("\t[ Device ID : 5 ] COM1 9600bps "));
    Frame().OnStop();
    QString portShown;
    QString baudShown;
    QString addressShown;
    Frame().SetDialogRunner([&](CCommSettingDlg& dlg) {
        portShown = dlg.PortList()->currentText();
        baudShown = dlg.BaudList()->currentText();
        addressShown = dlg.AddressEdit()->text();
        return false;
    });
    Frame().OnConnect();
    EXPECT_EQ(portShown, QStringLiteral("COM1"));  // the baud and address as the link holds them
    EXPECT_EQ(baudShown, QStringLiteral("9600"));
    EXPECT_EQ(addressShown, QStringLiteral("5"));
}

TEST_F(MainFrameTest, EveryWaitOfASwitchOrAHandlerShowsTheWaitCursorUntilTheEventLoopRuns) {
    port.Open(9600);
    link.deviceAddress = 5;
    CursorProbeClock probe(clock);
    CMainFrame f(FormContext{run, link, probe, sink, wall});
    f.show();
    QCoreApplication::processEvents();
    ASSERT_FALSE(BusyCursor::Shown());
    ASSERT_TRUE(f.SwitchToForm(CMeasuresForm::kFormId));
    ASSERT_FALSE(probe.seen.empty());  // the switch's settle wait at least
    EXPECT_EQ(std::count(probe.seen.begin(), probe.seen.end(), false), 0);
    EXPECT_TRUE(BusyCursor::Shown());
    QCoreApplication::processEvents();
    EXPECT_FALSE(BusyCursor::Shown());

    probe.seen.clear();
    auto* readData = f.Form()->findChild<QPushButton*>(QStringLiteral("button%1").arg(1037));
    ASSERT_NE(readData, nullptr);
    readData->click();
    ASSERT_FALSE(probe.seen.empty());
    EXPECT_EQ(std::count(probe.seen.begin(), probe.seen.end(), false), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(BusyCursor::Shown());

    // A worker's waits never touch the cursor.
    WaitCursorClock clockOfTheForms(probe);
    std::thread worker([&] { clockOfTheForms.sleep(5); });
    worker.join();
    EXPECT_FALSE(BusyCursor::Shown());
}

TEST_F(MainFrameTest, LeavingTheUpdateFormOrClosingTheWindowDuringATransferAsksFirst) {
    port.Open(9600);
    SetInternalItems(1);
    CMainFrame& f = Frame();
    ASSERT_TRUE(f.OpenForm(CUpdateForm::kFormId));
    auto* form = qobject_cast<CUpdateForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    ImageFiles files;
    const std::string image = files.Write(TaggedImage(4 * 1024));
    form->SetImageChooser([&] { return QString::fromStdString(image); });
    form->OnChooseImage();
    form->StartEdit()->setText(QStringLiteral("5"));
    form->EndEdit()->setText(QStringLiteral("5"));
    form->OnQuery();
    while (form->ScanTimerActive()) form->OnScanTimer();
    form->Grid().SetCheck(1, 4, true);
    form->OnUpgrade();
    ASSERT_TRUE(form->TransferRunning());
    const QString title = f.windowTitle();
    const std::size_t asked = sink.messages.size();

    // Stay: the form, its title and its transfer remain.
    sink.answers = {MsgResult::Cancel};
    f.ItemBar().OutBar().ClickItem(0, 0);
    ASSERT_EQ(sink.messages.size(), asked + 1);
    EXPECT_EQ(sink.messages.back().text.rfind("升级正在进行!(An update is running)", 0), 0u);
    EXPECT_EQ(sink.messages.back().buttons, MsgButtons::OkCancel);
    EXPECT_EQ(sink.messages.back().icon, MsgIcon::Question);
    EXPECT_EQ(f.Form(), form);
    EXPECT_EQ(f.windowTitle(), title);
    EXPECT_TRUE(port.IsOpen());
    sink.answers = {MsgResult::Cancel};
    EXPECT_FALSE(f.close());
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Form(), form);

    // Pause and leave: the port closes as 暂停 closes it, and the form (with its worker) is
    // gone before the window hides.
    sink.answers = {MsgResult::Ok};
    QPointer<QWidget> gone = form;
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(gone.isNull());
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(run.update.LinkOwned());
    EXPECT_EQ(sink.messages.size(), asked + 3);
}

TEST_F(MainFrameTest, ASmallWindowScrollsItsFormSoTheLastOutletIsReachable) {
    port.Open(9600);
    link.deviceAddress = 5;
    CMainFrame& f = Frame();
    EXPECT_LE(f.minimumWidth(), 500);
    EXPECT_LE(f.minimumHeight(), 400);
    f.resize(200, 150);
    EXPECT_GE(f.width(), 300);  // a sensible minimum
    EXPECT_GE(f.height(), 250);
    f.resize(500, 400);
    ASSERT_TRUE(f.OpenForm(CMeasuresForm::kFormId));
    auto* form = qobject_cast<CMeasuresForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    QCoreApplication::processEvents();  // the layout settles
    QScrollArea* area = f.ClientArea();
    QScrollBar* bar = area->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    const CGridCtrl& grid = form->Grid();
    const int last = MeasuresCycle::kRows - 1;  // outlet 30
    const QRect cell = grid.visualRect(grid.model()->index(last, 0));
    EXPECT_GE(cell.height(), grid.fontMetrics().height());  // a row to read, not a sliver
    const QPoint bottom = grid.viewport()->mapTo(area->viewport(), cell.bottomLeft());
    EXPECT_GE(bottom.y(), 0);
    EXPECT_LE(bottom.y(), area->viewport()->height());
    EXPECT_TRUE(grid.GetItemText(last, 0).contains(QStringLiteral("30")))
        << grid.GetItemText(last, 0).toStdString();
}

// The frame hands its forms the program's bench with the wait-cursor clock, so a calibration
// on the built-in module still sets the module's source.
TEST_F(MainFrameTest, FormsGetTheProgramsBench) {
    struct CountingBench final : StandardSourceFollower {
        bool Follow(const LinkState&, const StandardValues&, int) override { return ++calls > 0; }
        int calls = 0;
    } bench;
    SetInternalItems(1);
    port.Open(9600);
    link.deviceAddress = 5;
    CMainFrame f(FormContext{run, link, clock, sink, wall, &bench});
    ASSERT_TRUE(f.SwitchToForm(CRMSAdjustForm::kFormId));
    auto* form = qobject_cast<CRMSAdjustForm*>(f.Form());
    ASSERT_NE(form, nullptr);
    form->Cycle().OnIncomingLine();
    form->Cycle().OnStartRun(AdjustMode::Test);
    EXPECT_EQ(bench.calls, 1);
}
