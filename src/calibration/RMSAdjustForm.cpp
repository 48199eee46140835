#include "calibration/RMSAdjustForm.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "calibration/AdjustHelpDlg.h"
#include "calibration/DeadZoneDlg.h"
#include "calibration/ReportSetupDlg.h"
#include "calibration/StandardSourceFollower.h"
#include "calibration/StdSourceDlg.h"
#include "formkit/CellColours.h"
#include "formkit/CellPainter.h"
#include "run/RunState.h"
#include "widgets/GridCtrl.h"

using namespace adjust;

CRMSAdjustForm::CRMSAdjustForm(FormContext& ctx, QWidget* parent)
    : CFormView(kFormId, parent), ctx_(ctx), cycle_(ctx.link, ctx.clock, ctx.sink, ctx.run.calibration) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(CalibrationCycle::kTimerMs);
    connect(&timer_, &QTimer::timeout, this, &CRMSAdjustForm::OnTimer);
    // On the built-in virtual module the bench's source follows the standard values.
    if (StandardSourceFollower* bench = ctx.bench) {
        LinkState& link = ctx.link;
        cycle_.SetSourceFollower(
            [bench, &link](const StandardValues& s, int pf) { bench->Follow(link, s, pf); });
    }
    Build();
}

CRMSAdjustForm::~CRMSAdjustForm() {
    timer_.stop();
}

QPushButton* CRMSAdjustForm::Button(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

QRadioButton* CRMSAdjustForm::Radio(int id) const {
    const auto it = radios_.find(id);
    return it == radios_.end() ? nullptr : it->second;
}

void CRMSAdjustForm::Build() {
    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("grid%1").arg(IDC_GRID));
    grid_->SetDefaultBkColour(cellcolours::kNormal);

    auto button = [this](int id, const char* text, void (CRMSAdjustForm::*slot)()) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        if (slot != nullptr) connect(b, &QPushButton::clicked, this, slot);
        buttons_[id] = b;
        return b;
    };
    button(IDC_INCOMING, "进线", &CRMSAdjustForm::OnIncomingLine);
    button(IDC_OUTGOING, "出线", &CRMSAdjustForm::OnOutgoingLine);
    button(IDC_READ_CT, "读取CT模块", &CRMSAdjustForm::OnReadCtModules);
    button(IDC_STD_SOURCE, "标准源设置", &CRMSAdjustForm::OnStdSource);
    button(IDC_METER_TEST, "仪表测试", nullptr);
    button(IDC_METER_CAL, "仪表校准", nullptr);
    button(IDC_ANGLE_CAL, "角度校准", nullptr);
    connect(buttons_[IDC_METER_TEST], &QPushButton::clicked, this, [this] { OnStartRun(AdjustMode::Test); });
    connect(buttons_[IDC_METER_CAL], &QPushButton::clicked, this, [this] { OnStartRun(AdjustMode::Meter); });
    connect(buttons_[IDC_ANGLE_CAL], &QPushButton::clicked, this, [this] { OnStartRun(AdjustMode::Angle); });
    button(IDC_STOP, "停止", &CRMSAdjustForm::OnStop);
    button(IDC_RESTORE, "系数恢复", &CRMSAdjustForm::OnRestoreDefaults);
    button(IDC_HELP, "使用说明", &CRMSAdjustForm::OnHelp);
    button(IDC_REPORT, "测试报告", &CRMSAdjustForm::OnTestReport);
    button(IDC_DEAD_ZONE, "死区设置", &CRMSAdjustForm::OnDeadZone);
    // The layout's other hidden buttons stay hidden; nothing reaches their actions.
    for (auto [id, text] : {std::pair{IDC_OLD_RESTORE, "系数恢复"}, std::pair{IDC_ANGLE_RESTORE, "角度恢复"},
                            std::pair{IDC_USER_RESTORE, "恢复用户系数"}}) {
        QPushButton* b = button(id, text, nullptr);
        b->setVisible(false);
        b->setEnabled(false);
    }

    circuits_ = new QComboBox(this);
    circuits_->setObjectName(QStringLiteral("list%1").arg(IDC_CIRCUIT_LIST));
    circuits_->setMinimumContentsLength(3);
    connect(circuits_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index == cycle_.SelectedIndex()) return;
        // A meter test restarts on the new circuit; a calibration keeps its own (the list is off then).
        cycle_.SelectIndex(index);
        Sync();
    });
    ctRatio_ = new QLineEdit(QStringLiteral("1"), this);
    ctRatio_->setObjectName(QStringLiteral("edit%1").arg(IDC_CT_RATIO));
    ctRatio_->setValidator(new QIntValidator(0, CalibrationCycle::kMaxCtRatio, ctRatio_));
    ctRatio_->setMaximumWidth(70);
    auto* classLabel = new QLabel(QStringLiteral("电流等级"), this);
    currentClass_ = new QComboBox(this);
    currentClass_->setObjectName(QStringLiteral("list%1").arg(IDC_CURRENT_CLASS));
    currentClass_->addItems({QStringLiteral("10A"), QStringLiteral("20A"), QStringLiteral("40A、63A")});
    hiddenNumber_ = new QLineEdit(QStringLiteral("1"), this);
    hiddenNumber_->setObjectName(QStringLiteral("edit%1").arg(IDC_HIDDEN_NUMBER));
    hiddenNumber_->setValidator(new QIntValidator(1, 30, hiddenNumber_));
    for (QWidget* w : {static_cast<QWidget*>(classLabel), static_cast<QWidget*>(currentClass_),
                       static_cast<QWidget*>(hiddenNumber_)}) {
        w->setVisible(false);
        w->setEnabled(false);
    }

    auto group = [this](const char* title, int firstId, const auto& texts, QButtonGroup*& out) {
        auto* box = new QGroupBox(QString::fromUtf8(title), this);
        auto* row = new QHBoxLayout(box);
        out = new QButtonGroup(box);
        for (std::size_t k = 0; k < texts.size(); ++k) {
            const int id = firstId + static_cast<int>(k);
            auto* r = new QRadioButton(QString::fromUtf8(texts[k]), box);
            r->setObjectName(QStringLiteral("radio%1").arg(id));
            out->addButton(r, static_cast<int>(k));
            radios_[id] = r;
            row->addWidget(r);
        }
        row->addStretch();
        return box;
    };
    QGroupBox* voltage =
        group("电压调节", IDC_VOLTAGE_STEP0, AdjustFormulas::kVoltageStepTexts, voltageSteps_);
    QGroupBox* current =
        group("电流调节", IDC_CURRENT_STEP0, AdjustFormulas::kCurrentStepTexts, currentSteps_);
    QGroupBox* pf = group("功率因数调节", IDC_PF_STEP0, AdjustFormulas::kPfStepTexts, pfSteps_);

    auto* source = new QHBoxLayout;
    source->addWidget(buttons_[IDC_INCOMING]);
    source->addWidget(buttons_[IDC_OUTGOING]);
    source->addSpacing(16);
    source->addWidget(new QLabel(QStringLiteral("CT模块地址"), this));
    source->addWidget(circuits_);
    source->addWidget(buttons_[IDC_READ_CT]);
    source->addSpacing(16);
    source->addWidget(new QLabel(QStringLiteral("CT变比"), this));
    source->addWidget(ctRatio_);
    source->addStretch();

    auto* steps = new QVBoxLayout;
    steps->addWidget(voltage);
    steps->addWidget(current);
    steps->addWidget(pf);
    auto* actions = new QGridLayout;
    const int order[3][3] = {{IDC_STD_SOURCE, IDC_METER_TEST, IDC_METER_CAL},
                             {IDC_ANGLE_CAL, IDC_STOP, IDC_RESTORE},
                             {IDC_REPORT, IDC_DEAD_ZONE, IDC_HELP}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) actions->addWidget(buttons_[order[r][c]], r, c);
    auto* lower = new QHBoxLayout;
    lower->addLayout(steps, 3);
    lower->addLayout(actions, 2);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 0, 4, 4);
    top->addWidget(grid_, 1);
    top->addLayout(source);
    top->addLayout(lower);
}

void CRMSAdjustForm::SetUpGrid() {
    CGridCtrl& g = *grid_;
    g.SetRowCount(AdjustTable::kRows);
    g.SetColumnCount(AdjustTable::kCols);
    g.SetFixedRowCount(1);
    g.SetFixedColumnCount(1);
    g.SetReadOutOnly();
    g.SetColumnWidthPx(0, 50);
    g.SetColumnWidthPx(1, 90);
    g.SetColumnWidthPx(2, 75);
    g.SetColumnWidthPx(3, 75);
    g.ExpandToFit();
    g.SetScrollBarsVisible(false);
    for (int c = 0; c < AdjustTable::kCols; ++c) g.SetItemAlignment(0, c, Qt::AlignCenter);
}

void CRMSAdjustForm::OnInitialUpdate() {
    SetUpGrid();
    cycle_.Open();
    currentClass_->setCurrentIndex(0);
    Sync();
    grid_->Refit();
}

void CRMSAdjustForm::PullControls() {
    bool ok = false;
    const int ratio = ctRatio_->text().toInt(&ok);
    // Text that is no number leaves the previous ratio in use.
    if (ok && ratio >= 0 && ratio <= CalibrationCycle::kMaxCtRatio) cycle_.SetCtRatio(ratio);
    cycle_.SetSteps({voltageSteps_->checkedId(), currentSteps_->checkedId(), pfSteps_->checkedId()});
    if (circuits_->currentIndex() >= 0) cycle_.SelectIndex(circuits_->currentIndex());
}

void CRMSAdjustForm::PushControls() {
    ctRatio_->setText(QString::number(cycle_.CtRatio()));
    const StepChoice s = cycle_.Steps();
    if (auto* b = voltageSteps_->button(s.voltage)) b->setChecked(true);
    if (auto* b = currentSteps_->button(s.current)) b->setChecked(true);
    if (auto* b = pfSteps_->button(s.powerFactor)) b->setChecked(true);
}

void CRMSAdjustForm::Paint() {
    // An NG result cell turns red; the fixed headings keep their own colour.
    PaintChangedCells(*grid_, cycle_.Cells(), FixedCellColours::KeepGrids);
}

void CRMSAdjustForm::Sync() {
    if (cycle_.Circuits() != listed_) {
        listed_ = cycle_.Circuits();
        const QSignalBlocker block(circuits_);
        circuits_->clear();
        for (int n : listed_) circuits_->addItem(QString::number(n));
    }
    if (circuits_->currentIndex() != cycle_.SelectedIndex() && !listed_.empty())
        circuits_->setCurrentIndex(cycle_.SelectedIndex());
    for (int id : CalibrationCycle::ActionButtons()) buttons_[id]->setEnabled(cycle_.Enabled(id));
    // What a calibration reads and where it writes cannot change while it collects readings.
    circuits_->setEnabled(cycle_.Enabled(IDC_CIRCUIT_LIST));
    ctRatio_->setEnabled(cycle_.Enabled(IDC_CT_RATIO));
    buttons_[IDC_READ_CT]->setEnabled(cycle_.Enabled(IDC_READ_CT));
    for (auto& [id, radio] : radios_) radio->setEnabled(cycle_.Enabled(id));
    if (!cycle_.Running()) {
        timer_.stop();
    } else if (cycle_.TimerStarts() != timerStarts_ || !timer_.isActive()) {
        timerStarts_ = cycle_.TimerStarts();
        timer_.start(CalibrationCycle::kTimerMs);
    }
    PushControls();
    Paint();
}

void CRMSAdjustForm::OnTimer() {
    // A message box inside a tick runs its own event loop; its timer shots wait.
    if (ticking_) return;
    ticking_ = true;
    PullControls();
    cycle_.Tick();
    ticking_ = false;
    Sync();
}

void CRMSAdjustForm::OnIncomingLine() {
    PullControls();
    cycle_.OnIncomingLine();
    Sync();
    grid_->Refit();
}

void CRMSAdjustForm::OnOutgoingLine() {
    PullControls();
    cycle_.OnOutgoingLine();
    Sync();
    grid_->Refit();
}

void CRMSAdjustForm::OnReadCtModules() {
    PullControls();
    cycle_.OnReadCtModules();
    Sync();
}

void CRMSAdjustForm::OnStartRun(AdjustMode mode) {
    PullControls();
    cycle_.OnStartRun(mode);
    Sync();
}

void CRMSAdjustForm::OnStop() {
    cycle_.OnStop();
    Sync();
}

void CRMSAdjustForm::OnRestoreDefaults() {
    PullControls();
    cycle_.OnRestoreDefaults();
    Sync();
}

bool CRMSAdjustForm::RunDialog(QDialog& dlg) {
    return runner_ ? runner_(dlg) : dlg.exec() == QDialog::Accepted;
}

QString CRMSAdjustForm::ChooseFile(const QString& suggested) {
    if (chooser_) return chooser_(suggested);
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    dlg.setNameFilter(QStringLiteral("文本文件(*.txt)"));
    // The report is appended: an existing file is no reason to ask.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    dlg.selectFile(suggested);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().front();
}

void CRMSAdjustForm::OnStdSource() {
    PullControls();
    CStdSourceDlg dlg(cycle_.Source(), ctx_.sink, this);
    if (RunDialog(dlg)) cycle_.SetSource(dlg.Values());
    Sync();
}

void CRMSAdjustForm::OnTestReport() {
    PullControls();
    CReportSetupDlg dlg(report_, cycle_.Steps().voltage, cycle_.Steps().current, this);
    if (!RunDialog(dlg)) return;
    const std::string path = report_.path;
    report_ = dlg.Settings();
    report_.path = path;
    const QString file = ChooseFile(QString::fromStdString(report_.serial));
    if (file.isEmpty()) return;
    report_.path = file.toStdString();
    const ReportContent content{report_,        dlg.TestVoltage(), dlg.TestCurrent(),
                                cycle_.Cells(), cycle_.View(),     ctx_.wall.Now()};
    const auto bytes = ReportWriter::Compose(content);
    std::string error;
    if (!bytes) {
        ctx_.sink.Show(kReportNotEncodable, kWarning, MsgIcon::Stop, MsgButtons::Ok);
    } else if (!ReportWriter::Append(report_.path, *bytes, error)) {
        ctx_.sink.Show(error, kWarning, MsgIcon::Stop, MsgButtons::Ok);
    } else {
        ctx_.sink.Show(kSaved, kNotice, MsgIcon::Information, MsgButtons::Ok);
    }
}

void CRMSAdjustForm::OnDeadZone() {
    cycle_.OnStop();
    Sync();
    CDeadZoneDlg dlg(ctx_.link, ctx_.clock, ctx_.sink, this);
    RunDialog(dlg);
}

void CRMSAdjustForm::OnHelp() {
    auto* help = new CAdjustHelpDlg(this);
    help->setAttribute(Qt::WA_DeleteOnClose);
    help->adjustSize();
    help->move(mapToGlobal(rect().center()) - QPoint(help->width() / 2, help->height() / 2));
    help->show();
}
