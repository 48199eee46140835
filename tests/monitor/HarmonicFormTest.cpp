// The harmonics form: the tabs, only the visible page polling, the charts per phase.
#include <QTabWidget>

#include "FormFixture.h"
#include "monitor/BarChart.h"
#include "monitor/HarmonicForm.h"
#include "widgets/GridCtrl.h"

namespace {

class HarmonicFormTest : public FormFixture {
protected:
    void Make() {
        form = std::make_unique<CHarmonicForm>(ctx);
        form->resize(700, 650);
        form->show();
        form->OnInitialUpdate();
    }
    // Timers of the three pages: THD, voltage, current.
    std::vector<bool> Running() const {
        return {form->ThdPage()->TimerActive(), form->VoltagePage()->TimerActive(),
                form->CurrentPage()->TimerActive()};
    }
    int LastStart() const { return StartOf(port.Sent().back()); }
    std::unique_ptr<CHarmonicForm> form;
};

TEST_F(HarmonicFormTest, OpensOnTheThdPageWhichAloneYetPolls) {
    Make();
    QTabWidget* tabs = form->Tabs();
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("谐波畸变率"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("谐波电压含有率"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("谐波电流含有率"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(Running(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(form->ThdPage()->TimerIntervalMs(), 500);
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc({0x01, 0x03, 0x03, 0x20, 0x00, 0x06}));
    Tick(*form->ThdPage(), 500);
    EXPECT_TRUE(form->ThdPage()->Grid().GetItemText(2, 1).endsWith(QLatin1Char('%')));
    EXPECT_EQ(form->ThdPage()->Grid().GetItemText(1, 3), QStringLiteral("C相"));
}

TEST_F(HarmonicFormTest, SwitchingTabsWithinATickLeavesNoHiddenPageRunning) {
    Make();
    form->Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Running(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(LastStart(), 806);
    form->Tabs()->setCurrentIndex(2);
    EXPECT_EQ(LastStart(), 896);
    form->Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Running(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(LastStart(), 806);  // a fresh first request, phase A
    form->Tabs()->setCurrentIndex(0);
    EXPECT_EQ(Running(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(LastStart(), 800);
    EXPECT_LT(clock.nowMs(), 4 * 100);  // each switch waits for one reply, never for a tick
}

// A tab switch while the old page's reply is on its way (a module 50 ms late): every chart
// shows only its own page's and phase's registers.
TEST_F(HarmonicFormTest, ATabSwitchWaitsOutTheReplyInFlight) {
    bus.WithModule(1, [](VirtualModule& m) { m.SetTurnaroundMs(VirtualModule::kTurnaroundMs + 50); });
    Make();
    form->Tabs()->setCurrentIndex(2);  // the THD request still unanswered
    EXPECT_GT(clock.nowMs(), 50);
    CHarmonicChartPage* amps = form->CurrentPage();
    Tick(*amps, 500);  // phase A; phase B's request goes out
    form->Tabs()->setCurrentIndex(1);
    CHarmonicChartPage* volts = form->VoltagePage();
    for (int i = 0; i < 3; ++i) Tick(*volts, 500);
    // Order 11 carries no noise, so the register read now is the one the chart was given.
    const auto order11 = [this](int base, int phase) {
        return *bus.ReadRegister(1, base + 30 * phase + 9) * 0.1;
    };
    ASSERT_EQ(amps->Chart(0)->Bars().size(), 30u);
    EXPECT_DOUBLE_EQ(amps->Chart(0)->Bars()[9].value, order11(896, 0));
    EXPECT_TRUE(amps->Chart(1)->Bars().empty());
    for (int p = 0; p < 3; ++p) {
        ASSERT_EQ(volts->Chart(p)->Bars().size(), 30u) << p;
        EXPECT_DOUBLE_EQ(volts->Chart(p)->Bars()[9].value, order11(806, p)) << p;
    }
}

TEST_F(HarmonicFormTest, ChartPagesFillOnePhasePerTickAndRestartAtA) {
    UseScriptedModule();
    for (int k = 0; k < 30; ++k) scripted.regs[896 + 30 + k] = 50;  // phase B current: 5.0 %
    scripted.regs[896] = 300;                                       // phase A current, order 2: full height
    Make();
    form->Tabs()->setCurrentIndex(2);
    CHarmonicChartPage* page = form->CurrentPage();
    for (int p = 0; p < 3; ++p) {
        ASSERT_NE(page->Chart(p), nullptr);
        EXPECT_EQ(page->Chart(p)->objectName(), QStringLiteral("chart1050"));
        EXPECT_EQ(page->Chart(p)->parentWidget()->objectName(), QStringLiteral("frame%1").arg(1011 + p));
        EXPECT_TRUE(page->Chart(p)->Stretched());
        EXPECT_FALSE(page->Chart(p)->GridShown());
        EXPECT_EQ(page->Chart(p)->BkColor(), QColor(255, 255, 240));
        EXPECT_TRUE(page->Chart(p)->Bars().empty());
    }
    EXPECT_EQ(page->Chart(0)->Title(), QStringLiteral("A相电流谐波含有率(%)"));
    EXPECT_EQ(page->Chart(2)->Title(), QStringLiteral("C相电流谐波含有率(%)"));

    Tick(*page, 500);
    ASSERT_EQ(page->Chart(0)->Bars().size(), 30u);
    EXPECT_TRUE(page->Chart(1)->Bars().empty());
    const CBarChart::Bar& first = page->Chart(0)->Bars()[0];
    EXPECT_EQ(first.label, QStringLiteral("2"));
    EXPECT_DOUBLE_EQ(first.value, 30.0);
    EXPECT_EQ(first.colour, QColor(255, 255, 0));
    EXPECT_EQ(page->Chart(0)->Bars()[29].label, QStringLiteral("31"));
    Tick(*page, 500);
    Tick(*page, 500);
    EXPECT_DOUBLE_EQ(page->Chart(1)->Bars()[3].value, 5.0);
    EXPECT_EQ(page->Chart(1)->Bars()[3].colour, QColor(0, 255, 0));
    EXPECT_EQ(page->Chart(2)->Bars()[0].colour, QColor(255, 0, 0));

    Tick(*page, 500);  // on to B
    form->Tabs()->setCurrentIndex(0);
    form->Tabs()->setCurrentIndex(2);
    EXPECT_EQ(page->Harmonics().Phase(), 0);
    EXPECT_EQ(StartOf(scripted.writes.back()), 896);
}

}  // namespace
