// The demand form: the opening failure, the 500 ms poll and "清除".
#include <QPushButton>

#include "FormFixture.h"
#include "monitor/DMDForm.h"
#include "widgets/GridCtrl.h"

namespace {

class DMDFormTest : public FormFixture {
protected:
    void Make() {
        form = std::make_unique<CDMDForm>(ctx);
        form->resize(620, 520);
        form->show();
        form->OnInitialUpdate();
    }
    QString Text(int r, int c) { return form->Grid().GetItemText(r, c); }
    std::unique_ptr<CDMDForm> form;
};

TEST_F(DMDFormTest, NoAnswerAtOpeningWarnsAndStartsNoTimer) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    Make();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "无法读取仪表数据!");
    EXPECT_EQ(sink.messages[0].caption, "警告");
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Stop);
    EXPECT_FALSE(form->TimerActive());
    EXPECT_EQ(Text(0, 2), QStringLiteral("实时需量"));
    EXPECT_EQ(Text(2, 1), QString());
}

TEST_F(DMDFormTest, PollsEveryHalfSecondWithTheUnitsGlued) {
    UseScriptedModule();
    scripted.regs[40] = 1;
    scripted.regs[700] = 1500;
    scripted.regs[703] = 0xFFF6;
    Make();
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 500);
    Tick(*form, 500);
    EXPECT_EQ(Text(2, 1), QStringLiteral("1.500A"));
    EXPECT_EQ(Text(2, 4), QStringLiteral("-1.0W"));
    EXPECT_EQ(Text(6, 2), QStringLiteral("最大需量"));
    EXPECT_EQ(Text(11, 3), QStringLiteral("Ptot:"));
    // A missed reply changes nothing and the timer runs on.
    scripted.mute = true;
    Tick(*form, 500);
    Tick(*form, 500);
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(Text(2, 1), QStringLiteral("1.500A"));
    EXPECT_LT(form->Grid().columnWidth(2), form->Grid().columnWidth(1));  // the narrow gap
}

TEST_F(DMDFormTest, ClearPausesThePollAndSaysSoEachTime) {
    clock.advanceMs(300 * 1000);  // the demand has risen by now
    Make();
    Tick(*form, 500);
    const double before = Text(8, 1).chopped(1).toDouble();
    ASSERT_GT(before, 1.0);
    // The question names what is lost; "No" sends nothing and leaves the poll alone.
    const std::size_t sent = port.Sent().size();
    sink.answers = {MsgResult::No};
    form->ClearButton()->click();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].text.find("最大需量"), std::string::npos);
    EXPECT_EQ(sink.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(sink.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(port.Sent().size(), sent);
    EXPECT_TRUE(form->TimerActive());
    sink.messages.clear();

    for (int press = 1; press <= 2; ++press) {
        const auto t0 = clock.nowMs();
        sink.answers = {MsgResult::Yes};
        form->ClearButton()->click();
        // The first press comes while the tick's reply (37 bytes) is still on its way: it
        // is waited out before the clear's own 200 + 200 ms.
        EXPECT_EQ(clock.nowMs() - t0, press == 1 ? 457 : 400);
        EXPECT_TRUE(form->TimerActive());
        ASSERT_EQ(sink.messages.size(), static_cast<std::size_t>(2 * press));
        EXPECT_EQ(sink.messages.back().text, "需量清除成功！");
        EXPECT_EQ(sink.messages.back().caption, "KVT40");
        EXPECT_EQ(sink.messages.back().icon, MsgIcon::None);
        EXPECT_EQ(port.Sent().back(), WithCrc({0x01, 0x10, 0x00, 0xFB, 0x00, 0x01, 0x02, 0x03, 0x78}));
    }
    Tick(*form, 500);  // the echo
    Tick(*form, 500);
    EXPECT_LT(Text(8, 1).chopped(1).toDouble(), before / 10);  // the maximum restarted from nothing
}

}  // namespace
