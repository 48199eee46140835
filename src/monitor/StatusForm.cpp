#include "monitor/StatusForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "run/RunState.h"
#include "widgets/Lamp.h"

namespace {

// The layout is in dialog units of an 8-point font: 1.5 pixels across, 1.625 down.
QRect Du(int x, int y, int w, int h) {
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return {px(x * 1.5), px(y * 1.625), px(w * 1.5), px(h * 1.625)};
}

const char* const kOpen = "分";
const char* const kClosed = "合";

}  // namespace

CStatusForm::CStatusForm(FormContext& ctx, QWidget* parent)
    : CFormView(kFormId, parent), cycle_(ctx.link, ctx.clock, ctx.run.statusPollPhase) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CStatusForm::OnTimer);

    auto* inputs = new QGroupBox(QStringLiteral("开关量输入"), this);
    inputs->setGeometry(Du(25, 26, 317, 84));
    auto* relays = new QGroupBox(QStringLiteral("继电器输出"), this);
    relays->setGeometry(Du(27, 146, 317, 102));
    auto* legend = new QGroupBox(QStringLiteral("注"), this);
    legend->setGeometry(Du(249, 257, 94, 77));

    struct Place {
        int x, y;
    };
    static constexpr Place kLamps[InputRelayCycle::kLamps] = {{102, 66}, {144, 66}, {101, 181}, {143, 181}};
    for (int l = 0; l < InputRelayCycle::kLamps; ++l) {
        const Place at = kLamps[l];
        auto* lamp = new CLamp(this);
        lamp->setObjectName(QStringLiteral("lamp%1").arg(kFirstLampId + l));
        lamp->setGeometry(Du(at.x, at.y, 22, 22));
        lamps_[static_cast<std::size_t>(l)] = lamp;
        auto* name = new QLabel(QString::fromUtf8(InputRelayCycle::Name(l)), this);
        name->setAlignment(Qt::AlignCenter);
        name->setGeometry(Du(at.x - 4, at.y - 12, 30, 10));
    }
    legendOn_ = new CLamp(this);
    legendOn_->setObjectName(QStringLiteral("lamp%1").arg(kLegendOnId));
    legendOn_->setGeometry(Du(260, 270, 22, 22));
    legendOff_ = new CLamp(this);
    legendOff_->setObjectName(QStringLiteral("lamp%1").arg(kLegendOffId));
    legendOff_->setGeometry(Du(260, 305, 22, 22));
    (new QLabel(QStringLiteral("—— ON"), this))->setGeometry(Du(286, 276, 50, 10));
    (new QLabel(QStringLiteral("——OFF"), this))->setGeometry(Du(286, 311, 50, 10));

    const Place boxes[2] = {{105, 221}, {149, 221}};
    for (int r = 0; r < 2; ++r) {
        auto* box = new QCheckBox(QString::fromUtf8(kOpen), this);
        box->setObjectName(QStringLiteral("check%1").arg(r == 0 ? kRelay1BoxId : kRelay2BoxId));
        // A little wider than the layout's 23 units, so the mark and its text both show.
        box->setGeometry(Du(boxes[r].x, boxes[r].y, 30, 10));
        connect(box, &QCheckBox::clicked, this, [this, r] { OnRelayBoxClicked(r); });
        boxes_[static_cast<std::size_t>(r)] = box;
    }
    test_ = new QPushButton(QStringLiteral("测试"), this);
    test_->setObjectName(QStringLiteral("button%1").arg(kTestId));
    test_->setGeometry(Du(239, 219, 50, 22));
    connect(test_, &QPushButton::clicked, this, &CStatusForm::OnTest);
    for (QGroupBox* g : {inputs, relays, legend}) g->lower();
}

CStatusForm::~CStatusForm() {
    timer_.stop();
    cycle_.Settle();  // the next form's first request must not meet this form's reply
}

void CStatusForm::OnInitialUpdate() {
    for (CLamp* l : lamps_) l->SetLit(false);
    legendOn_->SetLit(true);
    legendOff_->SetLit(false);
    cycle_.Open();
    timer_.start(InputRelayCycle::kPollMs);
}

void CStatusForm::ShowLamps() {
    for (int l = 0; l < InputRelayCycle::kLamps; ++l)
        lamps_[static_cast<std::size_t>(l)]->SetLit(cycle_.Lit(l));
}

void CStatusForm::OnTimer() {
    cycle_.Tick();
    ShowLamps();
}

void CStatusForm::OnRelayBoxClicked(int relay) {
    for (std::size_t r = 0; r < 2; ++r) relayClosed_[r] = boxes_[r]->isChecked() ? 1 : 0;
    QCheckBox* box = boxes_[static_cast<std::size_t>(relay)];
    box->setText(QString::fromUtf8(box->isChecked() ? kClosed : kOpen));
}

void CStatusForm::OnTest() {
    for (std::size_t r = 0; r < 2; ++r) relayClosed_[r] = boxes_[r]->isChecked() ? 1 : 0;
    timer_.stop();
    cycle_.Settle();  // no coil write while the module is still answering a poll
    cycle_.Test(relayClosed_[0] != 0, relayClosed_[1] != 0);
    timer_.start(InputRelayCycle::kPollMs);
}
