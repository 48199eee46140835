// The calibration form offscreen against the virtual module on its bench: placing, the
// timer, the buttons mirrored from the rules, and the dialogs' wiring.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <fstream>

#include "calibration/AdjustHelpDlg.h"
#include "calibration/DeadZoneDlg.h"
#include "calibration/RMSAdjustForm.h"
#include "calibration/ReportSetupDlg.h"
#include "calibration/StdSourceDlg.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/SimLink.h"
#include "widgets/GridCtrl.h"

using namespace adjust;

namespace {

class RMSAdjustFormTest : public ::testing::Test, protected SimLink {
protected:
    RMSAdjustFormTest() {
        bus.WithModule(1, [](VirtualModule& m) { m.Bench().Connect(StandardSource{}); });
        form = std::make_unique<CRMSAdjustForm>(ctx);
        form->resize(760, 620);
        form->OnInitialUpdate();
    }
    // What timer 1 does, with its time passing on the virtual clock.
    void Tick() {
        form->Cycle().WaitForTick();
        form->OnTimer();
    }
    QString Text(int r, int c) const { return form->Grid().GetItemText(r, c); }
    bool Enabled(int id) const { return form->Button(id)->isEnabled(); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const auto& m : sink.messages) out.push_back(m.text);
        return out;
    }

    RecordingSink sink;
    FixedWallClock wall{LocalTime{2024, 3, 5, 8, 7, 9}};
    FormContext ctx{run, link, clock, sink, wall};
    std::unique_ptr<CRMSAdjustForm> form;
};

}  // namespace

TEST_F(RMSAdjustFormTest, ControlsTextsAndWhatIsHidden) {
    const std::vector<std::pair<int, const char*>> visible = {
        {IDC_INCOMING, "进线"},         {IDC_OUTGOING, "出线"},       {IDC_READ_CT, "读取CT模块"},
        {IDC_STD_SOURCE, "标准源设置"}, {IDC_METER_TEST, "仪表测试"}, {IDC_METER_CAL, "仪表校准"},
        {IDC_ANGLE_CAL, "角度校准"},    {IDC_STOP, "停止"},           {IDC_RESTORE, "系数恢复"},
        {IDC_HELP, "使用说明"},         {IDC_REPORT, "测试报告"},     {IDC_DEAD_ZONE, "死区设置"}};
    for (const auto& [id, text] : visible) {
        ASSERT_NE(form->Button(id), nullptr) << id;
        EXPECT_EQ(form->Button(id)->text(), QString::fromUtf8(text));
        EXPECT_TRUE(form->Button(id)->isVisibleTo(form.get())) << id;
    }
    for (int id : {IDC_OLD_RESTORE, IDC_ANGLE_RESTORE, IDC_USER_RESTORE}) {
        EXPECT_FALSE(form->Button(id)->isVisibleTo(form.get())) << id;
        EXPECT_FALSE(form->Button(id)->isEnabled()) << id;
    }
    for (const char* name : {"list1097", "edit1091"}) {
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_FALSE(w->isVisibleTo(form.get()));
    }
    EXPECT_EQ(form->findChild<QComboBox*>(QStringLiteral("list1097"))->currentText(), QStringLiteral("10A"));
    EXPECT_EQ(form->Radio(1046)->text(), QStringLiteral("120%"));
    EXPECT_EQ(form->Radio(1052)->text(), QStringLiteral("120%"));
    EXPECT_EQ(form->Radio(1057)->text(), QStringLiteral("0.5C"));
    EXPECT_TRUE(form->Radio(1045)->isChecked());
    EXPECT_TRUE(form->Radio(1051)->isChecked());
    EXPECT_TRUE(form->Radio(1053)->isChecked());
    EXPECT_EQ(form->CtRatioEdit()->text(), QStringLiteral("1"));

    // Showing the form: the table of the circuit view, no request, everything but the
    // view buttons, 读取CT模块 and 使用说明 off.
    EXPECT_EQ(Text(0, 5), QStringLiteral("允许误差(%)"));
    EXPECT_EQ(Text(1, 1), QStringLiteral("电流"));
    EXPECT_EQ(form->Grid().GetFixedRowCount(), 1);
    EXPECT_EQ(form->Grid().GetFixedColumnCount(), 1);
    EXPECT_EQ(form->Grid().GetItemBkColour(1, 1), QColor(255, 255, 213));
    EXPECT_GE(form->Grid().columnWidth(1), 90);
    for (int id : CalibrationCycle::ActionButtons()) EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {IDC_INCOMING, IDC_OUTGOING, IDC_READ_CT, IDC_HELP}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(port.Sent().empty());
    EXPECT_FALSE(form->TimerActive());
}

TEST_F(RMSAdjustFormTest, ReadingTheListThenAMeterTestOnTheTimer) {
    bus.WithModule(1, [](VirtualModule& m) { m.SetCircuitFault(1, true); });
    form->Button(IDC_READ_CT)->click();
    ASSERT_EQ(form->CircuitList()->count(), 29);
    EXPECT_EQ(form->CircuitList()->currentText(), QStringLiteral("2"));
    for (int id : CalibrationCycle::ActionButtons()) EXPECT_TRUE(Enabled(id)) << id;
    form->CircuitList()->setCurrentIndex(2);  // circuit 4

    form->Button(IDC_METER_TEST)->click();
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 800);
    EXPECT_FALSE(Enabled(IDC_METER_TEST));
    EXPECT_FALSE(Enabled(IDC_REPORT));
    EXPECT_TRUE(Enabled(IDC_STOP));
    Tick();
    EXPECT_EQ(StartOf(port.Sent().back()), 46);
    EXPECT_EQ(Text(1, 2), QStringLiteral("5.0000"));
    EXPECT_EQ(Text(1, 8), QStringLiteral("NG"));  // the uncalibrated circuit
    // A red cell with readable text; the other results keep the row's background.
    EXPECT_EQ(form->Grid().GetItemBkColour(1, 8), QColor(255, 0, 0));
    EXPECT_EQ(form->Grid().GetItemFgColour(1, 8), QColor(0, 0, 0));
    EXPECT_EQ(Text(3, 8), QStringLiteral("\\"));
    EXPECT_EQ(form->Grid().GetItemBkColour(3, 8), form->Grid().GetItemBkColour(3, 7));
    EXPECT_EQ(form->Grid().GetItemBkColour(3, 8), QColor(255, 255, 213));

    form->Button(IDC_STOP)->click();
    EXPECT_FALSE(form->TimerActive());
    EXPECT_TRUE(Enabled(IDC_METER_TEST));
}

TEST_F(RMSAdjustFormTest, CalibrationOnTheFormEndsInAMeterTestWithOkRows) {
    form->OnReadCtModules();
    form->Button(IDC_METER_CAL)->click();
    // What the calibration reads and where it writes are locked while it runs.
    const auto locked = [this] {
        return !form->CircuitList()->isEnabled() && !form->CtRatioEdit()->isEnabled() &&
               !Enabled(IDC_READ_CT) && !form->Radio(IDC_CURRENT_STEP0)->isEnabled() &&
               !form->Radio(IDC_PF_STEP0 + 2)->isEnabled();
    };
    EXPECT_TRUE(locked());
    for (int i = 0; i < 10; ++i) Tick();
    EXPECT_EQ(Texts(), std::vector<std::string>{"校准完成!"});
    EXPECT_TRUE(form->TimerActive());  // the meter test follows by itself
    EXPECT_TRUE(form->CircuitList()->isEnabled());
    EXPECT_TRUE(form->Radio(IDC_CURRENT_STEP0)->isEnabled());
    Tick();
    for (int r = 1; r <= 5; ++r) EXPECT_NE(Text(r, 8), QStringLiteral("NG")) << r;

    form->OnStop();
    sink.messages.clear();
    const std::size_t sent = port.Sent().size();
    sink.answers = {MsgResult::No};
    form->Button(IDC_RESTORE)->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(port.Sent().size(), sent);
    EXPECT_TRUE(Enabled(IDC_RESTORE));
    sink.messages.clear();
    sink.answers = {MsgResult::Yes};
    form->Button(IDC_RESTORE)->click();
    EXPECT_EQ(Texts().back(), "默认系数完成!");
    Tick();
    EXPECT_EQ(Text(1, 8), QStringLiteral("NG"));
}

TEST_F(RMSAdjustFormTest, TheViewsAndTheCtRatioEdit) {
    form->Button(IDC_INCOMING)->click();
    EXPECT_EQ(Text(1, 1), QStringLiteral("A相电压"));
    EXPECT_EQ(Text(4, 1), QString());
    EXPECT_TRUE(Enabled(IDC_METER_TEST));
    EXPECT_FALSE(Enabled(IDC_ANGLE_CAL));
    form->Radio(1042)->setChecked(true);
    form->Button(IDC_METER_TEST)->click();
    Tick();
    EXPECT_EQ(StartOf(port.Sent().back()), 0);
    EXPECT_EQ(Text(1, 2), QStringLiteral("44.00"));  // 20 % of 220 V
    form->Button(IDC_OUTGOING)->click();             // stops the run, back to 100 %
    EXPECT_FALSE(form->TimerActive());
    EXPECT_TRUE(form->Radio(1045)->isChecked());
    EXPECT_EQ(Text(1, 1), QStringLiteral("电流"));
    EXPECT_FALSE(Enabled(IDC_METER_TEST));  // no circuit listed yet

    form->OnReadCtModules();
    form->CtRatioEdit()->setText(QStringLiteral("10"));
    form->Button(IDC_METER_TEST)->click();
    Tick();
    EXPECT_EQ(Text(1, 2), QStringLiteral("50.0000"));
    form->CtRatioEdit()->setText(QString());  // no number: the last ratio stays
    Tick();
    EXPECT_EQ(form->CtRatioEdit()->text(), QStringLiteral("10"));
}

TEST_F(RMSAdjustFormTest, StandardSourceDialogTakesNumbersOnly) {
    form->OnReadCtModules();
    form->SetDialogRunner([this](QDialog& d) {
        auto& dlg = dynamic_cast<CStdSourceDlg&>(d);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("标准源设置"));
        EXPECT_EQ(dlg.Edit(0)->objectName(), QStringLiteral("edit1040"));
        EXPECT_EQ(dlg.Edit(0)->text(), QStringLiteral("220"));
        dlg.Edit(3)->setText(QStringLiteral("x"));
        EXPECT_FALSE(dlg.OnOk());
        EXPECT_EQ(sink.messages.back().text, "请输入一个数字。");
        dlg.Edit(3)->setText(QStringLiteral("1.5"));
        dlg.Edit(5)->setText(QStringLiteral("2"));
        return dlg.OnOk();
    });
    form->Button(IDC_STD_SOURCE)->click();
    EXPECT_FLOAT_EQ(form->Cycle().Source().ia, 1.5f);
    EXPECT_FLOAT_EQ(form->Cycle().Source().ic, 2.0f);
    EXPECT_FLOAT_EQ(form->Cycle().Source().ua, 220.0f);
    form->SetDialogRunner([](QDialog&) { return false; });  // 取消 keeps the values
    form->Button(IDC_STD_SOURCE)->click();
    EXPECT_FLOAT_EQ(form->Cycle().Source().ia, 1.5f);
}

TEST_F(RMSAdjustFormTest, TheReportIsWrittenWhereTheTechnicianChose) {
    form->OnReadCtModules();
    form->OnStartRun(AdjustMode::Test);
    Tick();
    form->OnStop();
    const auto path =
        std::filesystem::temp_directory_path() / ("kvt40-form-report-" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(path);
    QString suggested;
    form->SetFileChooser([&](const QString& s) {
        suggested = s;
        return QString::fromStdString(path.string());
    });
    form->SetDialogRunner([](QDialog& d) {
        auto& dlg = dynamic_cast<CReportSetupDlg&>(d);
        EXPECT_EQ(dlg.TestVoltageList()->currentText(), QStringLiteral("100%"));
        EXPECT_EQ(dlg.RatedVoltageList()->currentText(), QStringLiteral("220V"));
        EXPECT_EQ(dlg.ModelEdit()->text(), QStringLiteral("KVT40"));
        EXPECT_FALSE(dlg.DiList()->isVisibleTo(&dlg));
        dlg.SerialEdit()->setText(QStringLiteral("77"));
        dlg.EnglishCheck()->setChecked(true);
        dlg.TesterList()->setCurrentIndex(4);
        return true;
    });
    form->Button(IDC_REPORT)->click();
    EXPECT_EQ(suggested, QStringLiteral("77"));
    EXPECT_EQ(Texts(), std::vector<std::string>{"保存成功!"});
    EXPECT_EQ(sink.messages[0].caption, "提示");
    EXPECT_TRUE(form->Report().english);
    EXPECT_EQ(form->Report().tester, 4);
    EXPECT_EQ(form->Report().path, path.string());
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();  // Windows removes no open file
    std::filesystem::remove(path);
    EXPECT_NE(file.find("    Tester"), std::string::npos);
    EXPECT_EQ(file.substr(file.size() - 19), "2024-03-05 08:07:09");

    // A file that cannot be written is no success.
    sink.messages.clear();
    form->SetFileChooser([](const QString&) { return QStringLiteral("/nonexistent-dir/r.txt"); });
    form->SetDialogRunner([](QDialog&) { return true; });
    form->Button(IDC_REPORT)->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text.rfind("无法打开报告文件：", 0), 0u);
    EXPECT_EQ(sink.messages[0].caption, "警告");
    // Cancelling the save dialog writes nothing and says nothing.
    sink.messages.clear();
    form->SetFileChooser([](const QString&) { return QString(); });
    form->Button(IDC_REPORT)->click();
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(RMSAdjustFormTest, DeadZoneDialogWithTheLinkClosedAndTheHelpWindows) {
    form->OnReadCtModules();
    form->OnStartRun(AdjustMode::Test);
    port.Close();
    int shown = 0;
    form->SetDialogRunner([&](QDialog& d) {
        auto& dlg = dynamic_cast<CDeadZoneDlg&>(d);
        ++shown;
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("死区设置"));
        EXPECT_EQ(dlg.Grid().GetItemText(1, 0), QStringLiteral("A相电压(0.01V)"));
        EXPECT_EQ(dlg.Grid().GetItemText(1, 1), QString());
        EXPECT_EQ(dlg.Grid().GetItemText(7, 2), QStringLiteral("30"));
        EXPECT_TRUE(dlg.Grid().IsItemReadOnly(1, 1));
        EXPECT_EQ(dlg.Grid().GetCellType(1, 2), CGridCtrl::CellType::Numeric);
        return false;
    });
    form->OnDeadZone();
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(form->TimerActive());  // stopped as 停止 does
    EXPECT_EQ(Texts(), std::vector<std::string>{"无法读取仪表数据!"});

    form->Button(IDC_HELP)->click();
    form->Button(IDC_HELP)->click();
    const auto windows = form->findChildren<CAdjustHelpDlg*>();
    ASSERT_EQ(windows.size(), 2);
    EXPECT_EQ(windows[0]->windowTitle(), QStringLiteral("校表说明"));
    EXPECT_FALSE(windows[0]->isModal());
    EXPECT_TRUE(windows[0]->TextEdit()->isReadOnly());
    EXPECT_TRUE(windows[0]->TextEdit()->toPlainText().contains(QStringLiteral("    1. 确保通讯正常；\n")));
    for (auto* w : windows) w->close();
}

TEST_F(RMSAdjustFormTest, DeadZoneDialogReadsAndSets) {
    CDeadZoneDlg dlg(link, clock, sink);
    EXPECT_EQ(dlg.Grid().GetItemText(8, 1), QStringLiteral("50"));
    dlg.Grid().SetItemText(8, 2, QStringLiteral("65"));
    dlg.SetButton()->click();
    EXPECT_EQ(dlg.Grid().GetItemText(8, 1), QStringLiteral("65"));
    EXPECT_EQ(bus.ReadRegister(1, 1023).value(), 65);
    EXPECT_TRUE(sink.messages.empty());
}
