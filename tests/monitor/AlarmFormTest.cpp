// The alarm form: the opening probe, the 500 ms poll and the cell colours.
#include <QLabel>

#include "FormFixture.h"
#include "monitor/AlarmForm.h"
#include "widgets/GridCtrl.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kNormal(255, 255, 213);

class AlarmFormTest : public FormFixture {
protected:
    void Make() {
        form = std::make_unique<CAlarmForm>(ctx);
        form->resize(650, 700);
        form->OnInitialUpdate();
    }
    QColor Bk(int r, int c) { return form->Grid().GetItemBkColour(r, c); }
    std::unique_ptr<CAlarmForm> form;
};

TEST_F(AlarmFormTest, ColoursAppearOnTheSecondTickAndFollowTheBits) {
    UseScriptedModule();
    scripted.regs[370] = 0x0021;
    scripted.regs[372] = 0x2000;
    scripted.regs[374] = 0x0001;
    Make();
    EXPECT_EQ(form->Legend()->text(), QStringLiteral("Red background means alarm"));
    EXPECT_EQ(form->Grid().GetItemText(34, 1), QStringLiteral("Current Upper limit"));
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 500);
    Tick(*form, 500);
    EXPECT_EQ(Bk(1, 1), kNormal);
    Tick(*form, 500);
    EXPECT_EQ(Bk(1, 1), kRed);  // Ua upper
    EXPECT_EQ(Bk(1, 2), kRed);  // Ua lower
    for (int r = 2; r <= 3; ++r)
        for (int c = 1; c <= 2; ++c) EXPECT_EQ(Bk(r, c), kNormal) << r << "," << c;
    EXPECT_EQ(Bk(34, 1), kRed);  // outlet 30 current
    EXPECT_EQ(Bk(21, 2), kRed);  // outlet 17 module
    EXPECT_EQ(Bk(21, 1), kNormal);
    EXPECT_EQ(Bk(34, 0), kNormal);

    scripted.regs[370] = 0;
    Tick(*form, 500);  // the reply already made
    Tick(*form, 500);
    EXPECT_EQ(Bk(1, 1), kNormal);
    EXPECT_EQ(Bk(34, 1), kRed);
    EXPECT_TRUE(form->TimerActive());
}

TEST_F(AlarmFormTest, NoAnswerAtOpening) {
    bus.InjectFault(1, {BusFault::Kind::NoReply});
    Make();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to read meter data!");
    EXPECT_EQ(sink.messages[0].caption, "Warning");
    EXPECT_FALSE(form->TimerActive());
    EXPECT_EQ(form->Grid().GetItemText(1, 1), QStringLiteral("Ua Upper limit"));
}

}  // namespace
