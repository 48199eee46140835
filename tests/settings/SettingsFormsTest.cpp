// The three settings forms offscreen against the virtual module: placing and wiring only
// (their rules are tested on the core classes).
#include <gtest/gtest.h>

#include <QLabel>

#include "link/LinkState.h"
#include "settings/SetAlarmForm.h"
#include "settings/SetDeviceForm.h"
#include "settings/SetParmForm.h"
#include "shell/FormRegistry.h"
#include "shell/MainFrame.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/SimLink.h"
#include "widgets/GridCtrl.h"

namespace {

const QColor kValueBk(255, 255, 213);

class SettingsFormsTest : public ::testing::Test, protected SimLink {
protected:
    SettingsFormsTest() {}
    static QString T(const CGridCtrl& g, int r, int c) { return g.GetItemText(r, c); }

    RecordingSink sink;
    FixedWallClock wall;
    FormContext ctx{run, link, clock, sink, wall};
};

TEST_F(SettingsFormsTest, TheRegistryBuildsEachSettingsForm) {
    const FormRow* parm = FindForm(149);
    const FormRow* alarm = FindForm(150);
    const FormRow* device = FindForm(151);
    ASSERT_TRUE(parm && alarm && device);
    EXPECT_EQ(parm->place, FormPlace::Setting);
    EXPECT_EQ(alarm->place, FormPlace::Setting);
    EXPECT_FALSE(parm->internal);
    EXPECT_FALSE(alarm->internal);
    EXPECT_TRUE(device->internal);
    std::unique_ptr<CFormView> a(MakeForm(*parm, ctx, nullptr));
    std::unique_ptr<CFormView> b(MakeForm(*alarm, ctx, nullptr));
    std::unique_ptr<CFormView> c(MakeForm(*device, ctx, nullptr));
    EXPECT_NE(qobject_cast<CSetParmForm*>(a.get()), nullptr);
    EXPECT_NE(qobject_cast<CSetAlarmForm*>(b.get()), nullptr);
    EXPECT_NE(qobject_cast<CSetDeviceForm*>(c.get()), nullptr);
    EXPECT_TRUE(port.Sent().empty());  // nothing is sent before the initial update
}

TEST_F(SettingsFormsTest, AlarmFormPlacesTheReadAndSendsWhatWasTypedInTheGrid) {
    CSetAlarmForm form(ctx);
    form.resize(800, 700);
    form.OnInitialUpdate();
    CGridCtrl& g = form.Grid();
    EXPECT_EQ(g.objectName(), QStringLiteral("grid1002"));
    EXPECT_EQ(g.GetRowCount(), 33);
    EXPECT_EQ(g.GetColumnCount(), 3);
    EXPECT_EQ(g.GetFixedRowCount(), 1);
    EXPECT_EQ(g.GetFixedColumnCount(), 1);
    EXPECT_EQ(T(g, 0, 2), QStringLiteral("Setting value"));
    EXPECT_EQ(T(g, 1, 1), QStringLiteral("264.00 V"));
    EXPECT_EQ(T(g, 32, 0), QStringLiteral("Outlet 30 Current Upper limit"));
    EXPECT_EQ(T(g, 32, 2), QStringLiteral("63.00"));
    EXPECT_TRUE(g.IsItemReadOnly(5, 1));
    EXPECT_FALSE(g.IsItemReadOnly(5, 2));
    EXPECT_TRUE(g.IsItemReadOnly(5, 0));
    EXPECT_EQ(g.GetItemBkColour(5, 2), kValueBk);
    EXPECT_EQ(g.GetItemBkColour(5, 1), kValueBk);
    EXPECT_NE(g.GetItemBkColour(0, 1), kValueBk);
    EXPECT_EQ(g.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(form.ReadButton()->objectName(), QStringLiteral("button1037"));
    EXPECT_EQ(form.SetButton()->text(), QStringLiteral("Set"));
    ASSERT_EQ(port.Sent().size(), 1u);

    g.SetItemText(1, 2, QStringLiteral("250.5"));  // what an edit leaves in the cell
    g.SetItemText(3, 2, QStringLiteral("1.13"));
    form.SetButton()->click();
    ASSERT_EQ(port.Sent().size(), 4u);
    EXPECT_EQ(port.Sent()[1], WithCrc(Hex("01 10 01 F8 00 02 04 61 DA 44 C0")));
    EXPECT_EQ(port.Sent()[2][7], 0x00);
    EXPECT_EQ(port.Sent()[2][8], 0x71);
    EXPECT_EQ(T(g, 1, 1), QStringLiteral("250.50V"));
    EXPECT_EQ(T(g, 3, 1), QStringLiteral("1.13  A"));
    EXPECT_EQ(T(g, 1, 2), QStringLiteral("250.50"));

    g.SetItemText(4, 2, QStringLiteral("0.5"));
    form.SetButton()->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Current Upper limit setting range:0.0A ~ 63.0A!");
    EXPECT_EQ(port.Sent().size(), 4u);

    bus.InjectFault(1, {BusFault::Kind::NoReply});
    form.ReadButton()->click();
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[1].text, "Unable to read meter data!");
}

TEST_F(SettingsFormsTest, ParmFormHasDropDownBaudCellsAndWritesTheChosenOption) {
    CSetParmForm form(ctx);
    form.resize(800, 600);
    form.OnInitialUpdate();
    CGridCtrl& g = form.Grid();
    EXPECT_EQ(g.objectName(), QStringLiteral("grid1036"));
    EXPECT_EQ(form.Group()->title(), QStringLiteral("System info"));
    EXPECT_EQ(g.GetCellType(1, 2), CGridCtrl::CellType::Numeric);
    for (int c : {1, 2}) {
        EXPECT_EQ(g.GetCellType(2, c), CGridCtrl::CellType::Combo);
        EXPECT_EQ(g.GetCellOptions(2, c), (QStringList{"4800 ", "9600 ", "19200 "}));
    }
    EXPECT_TRUE(g.IsItemReadOnly(1, 1));
    EXPECT_TRUE(g.IsItemReadOnly(2, 1));
    EXPECT_FALSE(g.IsItemReadOnly(2, 2));
    EXPECT_EQ(T(g, 1, 1), QStringLiteral("1"));
    EXPECT_EQ(T(g, 2, 2), QStringLiteral("9600 "));
    // Sized to its rows: nothing scrolls, nothing is cut.
    EXPECT_GE(g.height(), g.rowHeight(0) * 3);
    EXPECT_EQ(form.SetButton()->objectName(), QStringLiteral("button1038"));

    // The form follows the module to its new settings and tells the frame.
    form.SetPortReopener([this](int baudIndex) { return port.Open(BaudRateOf(baudIndex)); });
    int moved = 0;
    QObject::connect(&form, &CFormView::LinkSettingsChanged, [&moved] { ++moved; });
    g.SetItemText(1, 2, QStringLiteral("12"));
    g.SetItemText(2, 2, QStringLiteral("19200 "));
    form.SetButton()->click();
    ASSERT_EQ(port.Sent().size(), 1u);  // the read-back at 19200, after the reopening
    EXPECT_EQ(port.Sent()[0], WithCrc(Hex("0C 03 01 F4 00 07")));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "The module now answers at address 12, 19200 bps.");
    EXPECT_EQ(T(g, 1, 1), QStringLiteral("12"));
    EXPECT_EQ(T(g, 2, 1), QStringLiteral("19200 "));
    EXPECT_EQ(moved, 1);

    form.SetButton()->click();  // the same settings again: nothing moves
    EXPECT_EQ(moved, 1);
}

// The frame hears of the move: its connection pane names the module's new address.
TEST_F(SettingsFormsTest, TheStatusBarFollowsAReaddressedModule) {
    link.portName = "COM1";
    CMainFrame frame(ctx);
    frame.SwitchToForm(CSetParmForm::kFormId);
    auto* form = qobject_cast<CSetParmForm*>(frame.Form());
    ASSERT_NE(form, nullptr);
    form->Grid().SetItemText(1, 2, QStringLiteral("7"));
    form->SetButton()->click();
    EXPECT_EQ(frame.StatusText(), QStringLiteral("\t[ Device ID : 7 ] COM1 9600bps "));
}

TEST_F(SettingsFormsTest, DeviceFormSendsNothingUntilAButtonAndWiresItsFields) {
    CSetDeviceForm form(ctx);
    form.resize(800, 600);
    form.OnInitialUpdate();
    EXPECT_TRUE(port.Sent().empty());
    CGridCtrl& g = form.Grid();
    EXPECT_EQ(g.objectName(), QStringLiteral("grid1053"));
    EXPECT_EQ(form.EnergyGroup()->title(), QStringLiteral("写电度"));
    EXPECT_EQ(form.InfoGroup()->title(), QStringLiteral("仪表信息"));
    QStringList labels;
    for (const QLabel* l : form.findChildren<QLabel*>()) labels << l->text();
    for (const char* text :
         {"写入模块地址：", "（1-30）", "有功电度值：", "无功电度值：", "（0.0-99999999.9）"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(T(g, 0, 1), QStringLiteral("当前值"));
    EXPECT_EQ(T(g, 3, 0), QStringLiteral("定制单号"));
    EXPECT_EQ(T(g, 3, 2), QStringLiteral("/"));
    EXPECT_TRUE(g.IsItemReadOnly(3, 1));
    EXPECT_EQ(form.OutletEdit()->objectName(), QStringLiteral("edit1100"));
    EXPECT_EQ(form.PresetButton()->text(), QStringLiteral("设置"));
    EXPECT_EQ(form.ReadButton()->objectName(), QStringLiteral("button1057"));

    form.OutletEdit()->setText(QStringLiteral("31"));
    form.PresetButton()->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "The outlet must be a whole number from 1 to 30.");
    EXPECT_TRUE(port.Sent().empty());

    form.OutletEdit()->setText(QStringLiteral("1"));
    form.ActiveEdit()->setText(QStringLiteral("1234.5"));
    form.ReactiveEdit()->setText(QStringLiteral("0"));
    form.PresetButton()->click();
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc(Hex("01 10 24 2A 00 06 0C 03 E7 00 00 30 39 00 00 00 00 00 00")));
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[1].text, "写入数据成功!");

    form.ReadButton()->click();
    EXPECT_EQ(port.Sent().size(), 5u);
    EXPECT_EQ(T(g, 1, 1), QStringLiteral("104"));
    EXPECT_EQ(T(g, 3, 1), QStringLiteral("SIM-KVT40-01"));
    EXPECT_EQ(sink.messages.size(), 2u);
}

}  // namespace
