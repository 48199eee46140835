// The update form and the retry dialog, offscreen against virtual modules on the virtual
// clock: placing, timers, messages and the wiring to the worker. The rules themselves are
// tested in core.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>

#include "formkit/CellColours.h"
#include "support/RecordingSink.h"
#include "update/UpdateFixture.h"
#include "update/UpdateForm.h"
#include "update/UpgradeRetryDlg.h"
#include "widgets/GridCtrl.h"

namespace {

class UpdateFormTest : public ::testing::Test {
protected:
    UpdateFormTest() : rig({1, 2, 3}) {
        form = std::make_unique<CUpdateForm>(ctx, shared, log);
        form->resize(720, 520);
        image = files.Write(TaggedImage(5 * 1024));  // whole KiB: the last block ends at the size
        form->SetImageChooser([this] { return QString::fromStdString(image); });
    }
    // Runs posted calls until `done` holds; real time is only the bound of a test gone wrong.
    template <typename Done>
    bool ProcessUntil(Done done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    void Scan(int from, int to) {
        form->StartEdit()->setText(QString::number(from));
        form->EndEdit()->setText(QString::number(to));
        form->OnQuery();
        while (form->ScanTimerActive()) form->OnScanTimer();
    }
    QString Cell(int r, int c) const { return form->Grid().GetItemText(r, c); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& m : sink.messages) t.push_back(m.text);
        return t;
    }

    BusRig<VirtualClock> rig;
    RecordingSink sink;
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
    FormContext ctx{rig.run, rig.link, rig.clock, sink, wall};
    UpdateShared shared;
    UpdateLog log;
    ImageFiles files;
    std::string image;
    std::unique_ptr<CUpdateForm> form;
};

}  // namespace

TEST_F(UpdateFormTest, FirstShownWithTheGridAndDefaultsAndAClosedPortSaysSo) {
    rig.port.Close();
    form->OnInitialUpdate();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Can not open port !");
    EXPECT_EQ(sink.messages[0].caption, "Error");
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(form->StartEdit()->text(), QStringLiteral("1"));
    EXPECT_EQ(form->EndEdit()->text(), QStringLiteral("247"));
    EXPECT_FALSE(form->UpgradeButton()->isEnabled());
    EXPECT_FALSE(form->SelectAllBox()->isEnabled());
    const CGridCtrl& g = form->Grid();
    EXPECT_EQ(g.GetRowCount(), 248);
    EXPECT_EQ(g.GetColumnCount(), 5);
    EXPECT_EQ(g.GetFixedRowCount(), 1);
    EXPECT_EQ(g.GetFixedColumnCount(), 1);
    const QStringList headers{QStringLiteral("编号"), QStringLiteral("地址"), QStringLiteral("进度"),
                              QStringLiteral("状态"), QStringLiteral("选择")};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(Cell(0, c), headers[c]);
    EXPECT_EQ(g.rowHeight(0), 30);
    EXPECT_EQ(g.rowHeight(1), 25);
    EXPECT_EQ(g.columnWidth(2), 120);
    EXPECT_EQ(g.GetItemBkColour(5, 3), cellcolours::kNormal);
    EXPECT_TRUE(rig.port.Sent().empty());
}

TEST_F(UpdateFormTest, TheScanFillsOneRowPerModuleWithACheckBoxAndEndsOnItsOwn) {
    form->OnInitialUpdate();
    form->StartEdit()->setText(QStringLiteral("1"));
    form->EndEdit()->setText(QStringLiteral("4"));
    form->OnQuery();
    EXPECT_EQ(form->QueryButton()->text(), QStringLiteral("停止"));
    EXPECT_TRUE(form->ScanTimerActive());
    ASSERT_NE(form->ScanBar(), nullptr);
    EXPECT_EQ(form->ScanBar()->objectName(), QStringLiteral("progress123"));
    EXPECT_FALSE(form->UpgradeButton()->isEnabled());
    int ticks = 0;
    while (form->ScanTimerActive()) {
        form->OnScanTimer();
        ++ticks;
        if (form->ScanBar() != nullptr) {
            EXPECT_EQ(form->ScanBar()->value(), ticks * 100 / 4);
        }
    }
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(form->QueriedEdit()->text(), QStringLiteral("4"));
    EXPECT_EQ(form->ScanBar(), nullptr);
    EXPECT_EQ(form->QueryButton()->text(), QStringLiteral("查询"));
    EXPECT_TRUE(form->UpgradeButton()->isEnabled());
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(Cell(r, 0), QString::number(r));
        EXPECT_EQ(Cell(r, 1), QString::number(r));
        EXPECT_EQ(Cell(r, 3), QStringLiteral("等待"));
        EXPECT_EQ(form->Grid().GetCellType(r, 4), CGridCtrl::CellType::Check);
    }
    EXPECT_EQ(Cell(4, 1), QString());
    EXPECT_NE(form->Grid().GetCellType(4, 4), CGridCtrl::CellType::Check);

    form->SelectAllBox()->setChecked(true);
    form->OnSelectAll();
    EXPECT_TRUE(form->Grid().GetCheck(3, 4));
    EXPECT_FALSE(form->Grid().GetCheck(4, 4));
}

TEST_F(UpdateFormTest, ABadRangeIsRefusedWithTheWarningAndNothingIsSent) {
    form->OnInitialUpdate();
    for (const char* bad : {"248", "0", "x"}) {
        form->EndEdit()->setText(QString::fromUtf8(bad));
        form->OnQuery();
        ASSERT_FALSE(sink.messages.empty());
        EXPECT_EQ(sink.messages.back().text,
                  "查找的地址不能大于247，或者小于1(Find the address can not be greater than 247, or less "
                  "than 1)!");
        EXPECT_EQ(sink.messages.back().caption, "警告(warning))");
        EXPECT_EQ(sink.messages.back().icon, MsgIcon::Stop);
    }
    EXPECT_FALSE(form->ScanTimerActive());
    EXPECT_TRUE(rig.port.Sent().empty());
}

TEST_F(UpdateFormTest, TheBatchRunsOnItsWorkerWithTheProgressTimerAndEndsWithTheStates) {
    form->OnInitialUpdate();
    Scan(1, 3);
    form->OnUpgrade();
    EXPECT_EQ(Texts(), std::vector<std::string>{"请添加.bin文件!"});
    EXPECT_EQ(sink.messages[0].caption, "KVT40");
    form->OnChooseImage();
    EXPECT_EQ(form->ImageEdit()->text(), QString::fromStdString(image));
    EXPECT_EQ(shared.ImagePath(), image);
    EXPECT_EQ(shared.imageSize.load(), 5u * 1024);
    form->OnUpgrade();
    EXPECT_EQ(Texts().back(), "请至少选中一个!");
    EXPECT_FALSE(form->WorkerRunning());

    form->Grid().SetCheck(1, 4, true);
    form->Grid().SetCheck(3, 4, true);
    form->OnUpgrade();
    EXPECT_EQ(form->UpgradeButton()->text(), QStringLiteral("暂停"));
    EXPECT_FALSE(form->QueryButton()->isEnabled());
    EXPECT_TRUE(form->ProgressTimerActive());
    EXPECT_EQ(Cell(1, 3), QStringLiteral("等待中"));
    EXPECT_EQ(Cell(2, 3), QStringLiteral("等待"));
    ASSERT_TRUE(ProcessUntil([&] { return !form->Batch().Busy(); }));
    form->OnProgressTimer();
    EXPECT_FALSE(form->ProgressTimerActive());
    EXPECT_EQ(form->UpgradeButton()->text(), QStringLiteral("升级"));
    EXPECT_TRUE(form->QueryButton()->isEnabled());
    EXPECT_EQ(Cell(1, 3), QStringLiteral("升级成功,校表正确!"));
    EXPECT_EQ(Cell(2, 3), QStringLiteral("等待"));
    EXPECT_EQ(Cell(3, 3), QStringLiteral("升级成功,校表正确!"));
    EXPECT_EQ(Cell(3, 2), QStringLiteral("5k / 5k"));  // the counter stopped at 4k: delivered is whole
    EXPECT_FALSE(log.Text().empty());
}

TEST_F(UpdateFormTest, ThePauseClosesThePortAndSaysSoAndTheFormWaitsForItsWorker) {
    Bootloader::Faults drop;
    drop.dropBlock = 2;
    drop.dropCount = 1000;
    rig.Faults(1, drop);
    form->OnInitialUpdate();
    Scan(1, 1);
    form->OnChooseImage();
    form->Grid().SetCheck(1, 4, true);
    form->OnUpgrade();
    sink.answers = {MsgResult::Ok};
    form->OnUpgrade();
    EXPECT_FALSE(rig.port.IsOpen());
    ASSERT_EQ(sink.messages.size(), 3u);
    EXPECT_EQ(sink.messages[0].text, "暂停升级?");
    EXPECT_EQ(sink.messages[0].caption, "提示");
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(sink.messages[1].text, "升级已暂停!!!!!!");
    EXPECT_EQ(sink.messages[1].icon, MsgIcon::Stop);
    EXPECT_EQ(sink.messages[2].text, "请等待十秒再次升级!!!");
    EXPECT_EQ(sink.messages[2].caption, "提示");
    EXPECT_TRUE(form->QueryButton()->isEnabled());
    form.reset();  // waits for the worker, which the closed port lets go at once
    EXPECT_FALSE(shared.LinkOwned());
}

TEST_F(UpdateFormTest, EachRetryPressOpensItsOwnDialogWhichUpdatesTheWaitingModule) {
    form->OnInitialUpdate();
    form->OnChooseImage();
    form->OnRetry();
    form->OnRetry();
    const auto dialogs = form->findChildren<CUpgradeRetryDlg*>();
    ASSERT_EQ(dialogs.size(), 2);
    EXPECT_NE(dialogs[0], dialogs[1]);
    CUpgradeRetryDlg* dlg = dialogs[0];
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("失败再升级"));
    EXPECT_EQ(dlg->ImageEdit()->text(), QString::fromStdString(image));

    rig.Loader(2, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    // Another file chosen here: the form's choice is sent, and the progress is its size.
    const std::string other = files.Write(TaggedImage(12 * 1024), "other");
    dlg->SetImageChooser([&] { return QString::fromStdString(other); });
    dlg->OnChooseImage();
    EXPECT_EQ(shared.imageSize.load(), 12u * 1024);
    dlg->OnUpgrade();
    EXPECT_EQ(dlg->UpgradeButton()->text(), QStringLiteral("暂停"));
    ASSERT_NE(dlg->Bar(), nullptr);
    EXPECT_TRUE(dlg->ProgressTimerActive());
    EXPECT_EQ(dlg->ImageEdit()->text(), QString::fromStdString(image));
    ASSERT_TRUE(ProcessUntil([&] { return dlg->UpgradeButton()->text() == QStringLiteral("升级"); }));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "升级成功!");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Information);
    dlg->OnProgressTimer();
    EXPECT_FALSE(dlg->ProgressTimerActive());
    EXPECT_EQ(dlg->Bar(), nullptr);
    EXPECT_EQ(dlg->ProgressEdit()->text(), QStringLiteral("5k / 5k"));
    EXPECT_TRUE(
        dlg->LogEdit()->toPlainText().contains(QStringLiteral("Waiting for the file to be sent ...C")));
    EXPECT_TRUE(dialogs[1]->LogEdit()->toPlainText().isEmpty());  // its own log

    // Nothing waits in a bootloader now: the second dialog says so instead of ending silently.
    dialogs[1]->OnUpgrade();
    ASSERT_TRUE(ProcessUntil([&] { return !dialogs[1]->Busy() && sink.messages.size() == 2; }));
    EXPECT_EQ(sink.messages[1].text.rfind("没有模块在引导程序中应答", 0), 0u) << sink.messages[1].text;
    EXPECT_EQ(sink.messages[1].icon, MsgIcon::Exclamation);
}

TEST_F(UpdateFormTest, RetryRefusesAClosedPortAnEmptyPathAndABusyLink) {
    form->OnInitialUpdate();
    form->OnRetry();
    auto* dlg = form->findChild<CUpgradeRetryDlg*>();
    ASSERT_NE(dlg, nullptr);
    dlg->OnUpgrade();
    EXPECT_EQ(Texts(), std::vector<std::string>{"请添加.bin文件(Please add .bin file)!"});
    form->OnChooseImage();
    dlg->ImageEdit()->setText(QString::fromStdString(image));
    ASSERT_TRUE(shared.TryAcquireLink());  // a batch transfers
    dlg->OnUpgrade();
    EXPECT_EQ(Texts().back(), "另一个升级正在进行,请稍候!");
    EXPECT_EQ(dlg->UpgradeButton()->text(), QStringLiteral("升级"));
    shared.ReleaseLink();
    rig.port.Close();
    dlg->OnUpgrade();
    EXPECT_EQ(Texts().back(), "Can not open port !");
    EXPECT_FALSE(dlg->Busy());
}

TEST_F(UpdateFormTest, TheScanAndEveryTransferExcludeEachOtherByButtonAndByHandler) {
    form->OnInitialUpdate();
    form->OnChooseImage();
    form->OnRetry();
    auto* dlg = form->findChild<CUpgradeRetryDlg*>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->UpgradeButton()->isEnabled());

    // A scan runs: no transfer may start, from the dialog's button or its handler.
    form->StartEdit()->setText(QStringLiteral("1"));
    form->EndEdit()->setText(QStringLiteral("3"));
    form->OnQuery();
    ASSERT_TRUE(form->ScanTimerActive());
    EXPECT_FALSE(dlg->UpgradeButton()->isEnabled());
    EXPECT_FALSE(form->UpgradeButton()->isEnabled());
    EXPECT_TRUE(form->QueryButton()->isEnabled());  // it stops the scan
    dlg->OnUpgrade();
    EXPECT_EQ(Texts().back(), "正在查询模块,请先停止查询再升级!");
    EXPECT_FALSE(dlg->Busy());
    while (form->ScanTimerActive()) form->OnScanTimer();
    EXPECT_TRUE(dlg->UpgradeButton()->isEnabled());
    EXPECT_FALSE(shared.LinkOwned());

    // A retry transfers: no scan and no batch, by button or handler.
    rig.Loader(3, [](Bootloader& b, VirtualModule& m) { b.EnterBootloader(m); });
    dlg->OnUpgrade();
    ASSERT_TRUE(dlg->Busy());
    EXPECT_FALSE(form->QueryButton()->isEnabled());
    EXPECT_FALSE(form->UpgradeButton()->isEnabled());
    const std::size_t sent = rig.port.Sent().size();
    form->OnQuery();
    EXPECT_EQ(Texts().back(), "另一个升级正在进行,请稍候!");
    EXPECT_FALSE(form->ScanTimerActive());
    form->Grid().SetCheck(1, 4, true);
    form->OnUpgrade();
    EXPECT_EQ(Texts().back(), "另一个升级正在进行,请稍候!");
    EXPECT_FALSE(form->WorkerRunning());
    const auto& frames = rig.port.Sent();
    for (std::size_t i = sent; i < frames.size(); ++i)  // no scan or snapshot read among the retry's bytes
        EXPECT_FALSE(frames[i].size() == 8 && frames[i][1] == 0x03) << i;
    ASSERT_TRUE(ProcessUntil([&] { return !dlg->Busy() && form->QueryButton()->isEnabled(); }));
    EXPECT_TRUE(form->UpgradeButton()->isEnabled());

    // A batch runs: the dialog's button is off (its handler refuses through the shared link,
    // as the scan's did; the worker on the virtual clock may end before a press could come).
    form->OnUpgrade();
    ASSERT_EQ(form->UpgradeButton()->text(), QStringLiteral("暂停"));
    EXPECT_FALSE(form->QueryButton()->isEnabled());
    EXPECT_FALSE(dlg->UpgradeButton()->isEnabled());
    ASSERT_TRUE(ProcessUntil([&] { return !form->Batch().Busy(); }));
    form->OnProgressTimer();
    EXPECT_TRUE(dlg->UpgradeButton()->isEnabled());

    // Closing the dialog while it works asks first; staying keeps it, leaving pauses.
    dlg->OnUpgrade();
    ASSERT_TRUE(dlg->Busy());  // until its closing message is taken in
    sink.answers = {MsgResult::Cancel};
    dlg->reject();
    EXPECT_EQ(sink.messages.back().text.rfind("升级正在进行!(An update is running)", 0), 0u);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(rig.port.IsOpen());
    sink.answers = {MsgResult::Ok};
    dlg->reject();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(rig.port.IsOpen());
    ASSERT_TRUE(ProcessUntil([&] { return !dlg->Busy(); }));
}

TEST_F(UpdateFormTest, AfterThePauseUpgradeSaysThePortIsClosedAndNoRowIsLeftWaiting) {
    Bootloader::Faults drop;
    drop.dropBlock = 2;
    drop.dropCount = 1000;
    rig.Faults(1, drop);
    form->OnInitialUpdate();
    Scan(1, 3);
    form->OnChooseImage();
    for (int r = 1; r <= 3; ++r) form->Grid().SetCheck(r, 4, true);
    form->OnUpgrade();
    sink.answers = {MsgResult::Ok};
    form->OnUpgrade();  // 暂停
    ASSERT_TRUE(ProcessUntil([&] { return !form->Batch().Busy(); }));
    form->OnProgressTimer();
    // How far the worker got before the pause is its own; every row ends with its reason.
    for (int r = 1; r <= 3; ++r) {
        EXPECT_NE(Cell(r, 3), QStringLiteral("等待中")) << r;
        EXPECT_FALSE(Cell(r, 3).isEmpty()) << r;
    }
    const QString row2 = Cell(2, 3);

    const std::size_t shown = sink.messages.size();
    form->OnUpgrade();
    ASSERT_EQ(sink.messages.size(), shown + 1);
    EXPECT_EQ(sink.messages.back().text.rfind("串口已关闭,无法升级。请先连接(Connect)模块", 0), 0u);
    EXPECT_EQ(form->UpgradeButton()->text(), QStringLiteral("升级"));
    EXPECT_FALSE(form->WorkerRunning());
    EXPECT_EQ(Cell(2, 3), row2);  // nothing was queued
}
