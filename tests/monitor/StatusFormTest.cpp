// The input and relay form: lamps, the alternating poll, the check boxes and "测试".
#include <QCheckBox>
#include <QPushButton>

#include "FormFixture.h"
#include "monitor/StatusForm.h"
#include "widgets/Lamp.h"

namespace {

class StatusFormTest : public FormFixture {
protected:
    StatusFormTest() {
        form = std::make_unique<CStatusForm>(ctx);
        form->resize(600, 580);
        form->OnInitialUpdate();
    }
    std::vector<bool> Lit() const {
        std::vector<bool> lit;
        for (int l = 0; l < InputRelayCycle::kLamps; ++l) lit.push_back(form->Lamp(l)->IsLit());
        return lit;
    }
    std::unique_ptr<CStatusForm> form;
};

TEST_F(StatusFormTest, LampsStartDarkAndTheLegendShowsOnAndOff) {
    EXPECT_EQ(Lit(), (std::vector<bool>{false, false, false, false}));
    EXPECT_TRUE(form->LegendOn()->IsLit());
    EXPECT_FALSE(form->LegendOff()->IsLit());
    EXPECT_EQ(form->Lamp(InputRelayCycle::kDo1)->objectName(), QStringLiteral("lamp1021"));
    for (int l = 0; l < InputRelayCycle::kLamps; ++l) EXPECT_TRUE(form->Lamp(l)->RepaintTimer().isActive());
    EXPECT_EQ(form->Lamp(0)->RepaintTimer().interval(), 200);
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 500);
    EXPECT_TRUE(port.Sent().empty());
    EXPECT_EQ(form->RelayBox(0)->text(), QStringLiteral("分"));
    EXPECT_FALSE(form->RelayBox(0)->isChecked());
}

TEST_F(StatusFormTest, TickingABoxChangesItsTextAndSendsNothing) {
    form->RelayBox(0)->click();
    EXPECT_EQ(form->RelayBox(0)->text(), QStringLiteral("合"));
    EXPECT_EQ(form->RelayBox(1)->text(), QStringLiteral("分"));
    form->RelayBox(0)->click();
    EXPECT_EQ(form->RelayBox(0)->text(), QStringLiteral("分"));
    EXPECT_TRUE(port.Sent().empty());
}

TEST_F(StatusFormTest, TestSetsTheRelaysAndTheLampsFollowOnLaterTicks) {
    bus.WithModule(1, [](VirtualModule& m) { m.SetInputOverride(1, true); });
    for (int i = 0; i < 3; ++i) Tick(*form, 500);
    EXPECT_EQ(Lit(), (std::vector<bool>{false, true, false, false}));

    form->RelayBox(1)->click();
    const std::size_t sent = port.Sent().size();
    form->TestButton()->click();
    EXPECT_TRUE(form->TimerActive());
    ASSERT_EQ(port.Sent().size(), sent + 4);
    EXPECT_EQ(port.Sent().back(), WithCrc({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00}));
    Tick(*form, 500);  // finds the echo of the last write: nothing changes
    EXPECT_EQ(Lit(), (std::vector<bool>{false, true, false, false}));
    Tick(*form, 500);
    Tick(*form, 500);
    EXPECT_EQ(Lit(), (std::vector<bool>{false, true, false, true}));
}

}  // namespace
