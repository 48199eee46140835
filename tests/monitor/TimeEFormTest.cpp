// The circuit totals form: its one request, the collecting timer and the editable cells.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "FormFixture.h"
#include "monitor/TimeEForm.h"
#include "widgets/GridCtrl.h"

namespace {

class TimeEFormTest : public FormFixture {
protected:
    TimeEFormTest() {
        form = std::make_unique<CTimeEForm>(ctx);
        form->resize(650, 600);
    }
    QString Text(int r, int c) { return form->Grid().GetItemText(r, c); }
    std::unique_ptr<CTimeEForm> form;
};

TEST_F(TimeEFormTest, OpensWithOneRequestAndATimerThatOnlyCollects) {
    form->OnInitialUpdate();
    EXPECT_EQ(Text(0, 1), QStringLiteral("Total Active power (W)"));
    EXPECT_EQ(Text(10, 0), QStringLiteral("Circuit 10"));
    EXPECT_EQ(form->Grid().GetRowCount(), 11);
    EXPECT_EQ(form->Grid().GetColumnCount(), 4);
    EXPECT_GE(form->Grid().columnWidth(0), 50);
    EXPECT_EQ(form->Grid().GetItemBkColour(5, 2), QColor(255, 255, 213));
    ASSERT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(port.Sent()[0], WithCrc({0x01, 0x03, 0x07, 0xD0, 0x00, 0x3C}));
    EXPECT_TRUE(form->TimerActive());
    EXPECT_EQ(form->TimerIntervalMs(), 600);

    Tick(*form, 600);
    EXPECT_FALSE(Text(1, 1).isEmpty());
    EXPECT_FALSE(Text(10, 3).isEmpty());
    const QString first = Text(1, 1);
    clock.advanceMs(60 * 1000);
    for (int i = 0; i < 3; ++i) Tick(*form, 600);
    EXPECT_TRUE(form->TimerActive());  // runs on, finding nothing
    EXPECT_EQ(port.Sent().size(), 1u);
    EXPECT_EQ(Text(1, 1), first);
    EXPECT_TRUE(sink.messages.empty());

    form->ReadDataButton()->click();
    EXPECT_EQ(port.Sent().size(), 2u);
    EXPECT_TRUE(form->TimerActive());
    Tick(*form, 600);
    EXPECT_NE(Text(1, 1), first);  // live values moved on
}

TEST_F(TimeEFormTest, ATypedCellStandsUntilTheNextReadingReplacesIt) {
    UseScriptedModule();
    scripted.Set32(2000, 1234);
    form->OnInitialUpdate();
    Tick(*form, 600);
    ASSERT_EQ(Text(1, 1), QStringLiteral("123.4"));
    EXPECT_TRUE(form->Grid().item(1, 1)->flags() & Qt::ItemIsEditable);
    form->Grid().item(1, 1)->setText(QStringLiteral("typed"));  // as the user's edit commits it
    form->Grid().item(0, 1)->setText(QStringLiteral("my header"));
    Tick(*form, 600);
    EXPECT_EQ(Text(1, 1), QStringLiteral("typed"));  // ticks that find nothing leave it
    form->OnReadData();
    Tick(*form, 600);
    EXPECT_EQ(Text(1, 1), QStringLiteral("123.4"));      // the same value, painted again
    EXPECT_EQ(Text(0, 1), QStringLiteral("my header"));  // no reading writes the headers
}

TEST_F(TimeEFormTest, TheHiddenControlsAreBuiltWiredAndHidden) {
    form->OnInitialUpdate();
    for (QWidget* w :
         {static_cast<QWidget*>(form->ClearEnergyButton()), static_cast<QWidget*>(form->ReadCtButton()),
          static_cast<QWidget*>(form->CtList()), static_cast<QWidget*>(form->CircuitEdit())}) {
        EXPECT_FALSE(w->isVisibleTo(form.get()));
        EXPECT_FALSE(w->isEnabled());
    }
    EXPECT_TRUE(form->ReadDataButton()->isVisibleTo(form.get()));

    bus.WithModule(1, [](VirtualModule& m) { m.SetCircuitFault(2, true); });
    bus.SetRegister(1, 503, 4);
    form->OnReadCtModules();
    ASSERT_EQ(form->CtList()->count(), 3);
    EXPECT_EQ(form->CtList()->itemText(1), QStringLiteral("3"));
    EXPECT_EQ(form->CtList()->currentIndex(), 0);

    form->CircuitEdit()->setText(QStringLiteral("7"));
    form->OnClearEnergy();
    EXPECT_FALSE(form->TimerActive());  // "Read data" starts it again
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "电度清除成功!");
    EXPECT_EQ(port.Sent().back()[10], 6);  // circuit 7 is outlet index 6
}

}  // namespace
