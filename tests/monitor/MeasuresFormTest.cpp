// The measurement form on the virtual clock against the in-memory sim port.
#include <gtest/gtest.h>

#include <QPushButton>

#include "link/LinkState.h"
#include "link/ModbusRtu.h"
#include "monitor/MeasuresForm.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"
#include "support/Frames.h"
#include "support/RecordingSink.h"
#include "support/SimLink.h"
#include "widgets/GridCtrl.h"

namespace {

class MeasuresFormTest : public ::testing::Test, protected SimLink {
protected:
    MeasuresFormTest() {
        form = std::make_unique<CMeasuresForm>(ctx);
        form->resize(700, 600);
    }
    // What the 600 ms timer does, with the time passing on the virtual clock.
    void Tick() {
        clock.advanceMs(600);
        form->OnTimer();
    }
    QString Text(int r, int c) { return form->Grid().GetItemText(r, c); }
    std::vector<QStringList> Rows(int from, int to) {
        std::vector<QStringList> rows;
        for (int r = from; r <= to; ++r) {
            QStringList row;
            for (int c = 0; c < 7; ++c) row << Text(r, c);
            rows.push_back(row);
        }
        return rows;
    }

    RecordingSink sink;
    FixedWallClock wall{LocalTime{2026, 12, 9, 14, 2, 31, 60}};
    FormContext ctx{run, link, clock, sink, wall};
    std::unique_ptr<CMeasuresForm> form;
};
}  // namespace

TEST_F(MeasuresFormTest, SetUpWritesHeadersColoursAndTheFirstRequest) {
    form->OnInitialUpdate();
    EXPECT_EQ(Text(0, 0), QStringLiteral("Line"));
    EXPECT_EQ(Text(0, 5), QStringLiteral("Frequency (Hz)"));
    EXPECT_EQ(Text(0, 4), QString());
    EXPECT_EQ(Text(2, 3), QStringLiteral("Reactive power(var)"));
    EXPECT_EQ(Text(2, 6), QStringLiteral("kvarh(kvarh)"));
    EXPECT_EQ(Text(3, 0), QStringLiteral("1"));
    EXPECT_EQ(Text(32, 0), QStringLiteral("30"));
    EXPECT_EQ(Text(1, 1), QString());
    for (int r : {0, 1, 2, 17, 32})
        for (int c = 0; c < 7; ++c) EXPECT_EQ(form->Grid().GetItemBkColour(r, c), QColor(255, 255, 213));
    EXPECT_EQ(form->Grid().GetFixedRowCount(), 0);
    EXPECT_GE(form->Grid().columnWidth(0), 50);  // then stretched with the others
    EXPECT_GE(form->Grid().columnWidth(1), 80);
    EXPECT_EQ(form->Grid().selectionMode(), QAbstractItemView::NoSelection);

    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 600);
    EXPECT_EQ(form->Measures().PollStep(), 0);

    // Built, but nothing shows or enables them.
    EXPECT_FALSE(form->ClearEnergyButton()->isVisibleTo(form.get()));
    EXPECT_FALSE(form->ClearEnergyButton()->isEnabled());
    EXPECT_TRUE(form->ReadDataButton()->isVisibleTo(form.get()));
    EXPECT_EQ(form->ReadDataButton()->text(), QStringLiteral("Read data"));
}

TEST_F(MeasuresFormTest, SixTicksWalkTheRegisterMapAndFillTheGrid) {
    form->OnInitialUpdate();
    for (int i = 0; i < 6; ++i) Tick();
    EXPECT_EQ(port.Sent().size(), 7u);
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->Measures().PollStep(), 0);

    EXPECT_NEAR(Text(1, 1).toDouble(), 220.0, 15.0);
    EXPECT_NEAR(Text(1, 5).toDouble(), 50.0, 1.0);
    EXPECT_TRUE(Text(1, 1).contains(QLatin1Char('.')));
    // Every outlet cell is filled, and the texts are the cycle's texts.
    for (int r = 3; r <= 32; ++r)
        for (int c = 0; c < 7; ++c) {
            EXPECT_FALSE(Text(r, c).isEmpty()) << r << "," << c;
            EXPECT_EQ(Text(r, c).toStdString(), form->Measures().Cell(r, c));
        }
    EXPECT_EQ(Text(3, 1).split(QLatin1Char('.')).value(1).size(), 3);  // current "%0.3f"
    EXPECT_EQ(Text(3, 2).split(QLatin1Char('.')).value(1).size(), 1);  // power "%0.1f"
}

TEST_F(MeasuresFormTest, AFailedReplyInStepThreeLeavesOutletsThirteenOnStaleAndStops) {
    form->OnInitialUpdate();
    for (int i = 0; i < 6; ++i) Tick();
    const auto before = Rows(3, 32);
    clock.advanceMs(3600 * 1000);  // an hour: energies have moved on
    Tick();                        // step 0
    Tick();                        // step 1: outlets 1..6, sends 82
    bus.InjectFault(1, {BusFault::Kind::BadCrc});
    Tick();  // step 2: outlets 7..12, sends 154 whose reply is corrupt
    const std::size_t sent = port.Sent().size();
    Tick();  // step 3 fails
    EXPECT_FALSE(form->TimerActive());
    EXPECT_EQ(form->Measures().PollStep(), 3);
    EXPECT_EQ(port.Sent().size(), sent);  // nothing more went out
    EXPECT_TRUE(sink.messages.empty());   // a failed poll is silent

    const auto after = Rows(3, 32);
    bool freshChanged = false;
    for (int i = 0; i < 12; ++i)
        freshChanged = freshChanged || after[std::size_t(i)] != before[std::size_t(i)];
    EXPECT_TRUE(freshChanged);
    for (std::size_t i = 12; i < 30; ++i) EXPECT_EQ(after[i], before[i]) << "outlet " << i + 1;

    bus.ClearFault(1);
    form->OnTimer();  // a stray tick does not revive the cycle by itself
    EXPECT_FALSE(form->TimerActive());
    clock.advanceMs(600);
    form->OnReadData();  // only Read data starts it again, at step 0
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->Measures().PollStep(), 0);
}

TEST_F(MeasuresFormTest, NoModuleAnswering) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    form->OnInitialUpdate();
    Tick();
    EXPECT_FALSE(form->TimerActive());
    EXPECT_EQ(Text(1, 1), QString());
    EXPECT_EQ(Text(0, 0), QStringLiteral("Line"));

    form->ReadDataButton()->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_FALSE(form->TimerActive());
}

TEST_F(MeasuresFormTest, ReadDataWaitsThreeHundredMsThenRestartsAtStepZero) {
    form->OnInitialUpdate();
    Tick();
    Tick();
    ASSERT_EQ(form->Measures().PollStep(), 2);
    const auto t0 = clock.nowMs();
    const std::size_t sent = port.Sent().size();
    form->OnReadData();
    // First the tick's reply still on its way (149 bytes, the last at 168.5 ms, then 3c),
    // so the probe never reads it as its own; then the probe's 300 ms.
    EXPECT_GE(clock.nowMs() - t0, 168 + 6 + 300);
    EXPECT_LE(clock.nowMs() - t0, 168 + 6 + 2 + 300);
    ASSERT_EQ(port.Sent().size(), sent + 2);  // the probe, then the first request again
    EXPECT_EQ(StartOf(port.Sent()[sent]), 0);
    EXPECT_EQ(StartOf(port.Sent()[sent + 1]), 0);
    EXPECT_EQ(form->Measures().PollStep(), 0);
    EXPECT_TRUE(form->TimerActive());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MeasuresFormTest, AStoppedCycleSaysSoUntilReadDataRestartsIt) {
    std::vector<QString> notices;
    int resumed = 0;
    QObject::connect(form.get(), &CPollingForm::PollingStopped,
                     [&](const QString& n) { notices.push_back(n); });
    QObject::connect(form.get(), &CPollingForm::PollingResumed, [&] { ++resumed; });
    form->OnInitialUpdate();
    Tick();
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    Tick();  // the reply already on its way still arrives
    EXPECT_TRUE(notices.empty());
    Tick();  // the next one does not
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], QStringLiteral("No reply from module 1 at 14:02:31; Read data resumes"));
    EXPECT_EQ(form->StopNotice(), notices[0]);
    bus.ClearFault(1);
    form->OnReadData();
    EXPECT_EQ(resumed, 1);
    EXPECT_TRUE(form->StopNotice().isEmpty());
}
