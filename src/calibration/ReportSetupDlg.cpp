#include "calibration/ReportSetupDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "calibration/AdjustFormulas.h"
#include "calibration/AdjustIds.h"

using namespace adjust;

namespace {

QComboBox* List(QWidget* parent, int id, const QStringList& entries, int index) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("list%1").arg(id));
    box->addItems(entries);
    box->setCurrentIndex(index >= 0 && index < entries.size() ? index : 0);
    return box;
}

QStringList Entries(auto texts) {
    QStringList out;
    for (const char* t : texts) out << QString::fromUtf8(t);
    return out;
}

}  // namespace

CReportSetupDlg::CReportSetupDlg(const ReportSettings& s, int testVoltage, int testCurrent, QWidget* parent)
    : QDialog(parent), settings_(s) {
    setObjectName(QStringLiteral("dialog%1").arg(kReportDlgId));
    setWindowTitle(QStringLiteral("测试报告"));
    serial_ = new QLineEdit(QString::fromStdString(s.serial), this);
    serial_->setObjectName(QStringLiteral("edit%1").arg(IDC_SERIAL));
    serial_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), serial_));
    model_ = new QLineEdit(QString::fromStdString(s.model), this);
    model_->setObjectName(QStringLiteral("edit%1").arg(IDC_MODEL));
    english_ = new QCheckBox(QStringLiteral("英文版"), this);
    english_->setObjectName(QStringLiteral("check%1").arg(IDC_ENGLISH));
    english_->setChecked(s.english);
    QStringList testers;
    for (int k = 0; k <= 9; ++k) testers << QString::fromStdString(ReportWriter::TesterText(k));
    ratedVoltage_ =
        List(this, IDC_RATED_VOLTAGE, {QStringLiteral("100V"), QStringLiteral("220V")}, s.ratedVoltage);
    ratedCurrent_ =
        List(this, IDC_RATED_CURRENT, {QStringLiteral("1A"), QStringLiteral("5A")}, s.ratedCurrent);
    testVoltage_ = List(this, IDC_TEST_VOLTAGE, Entries(AdjustFormulas::kVoltageStepTexts), testVoltage);
    testCurrent_ = List(this, IDC_TEST_CURRENT, Entries(AdjustFormulas::kCurrentStepTexts), testCurrent);
    tester_ = List(this, IDC_TESTER, testers, s.tester);
    QStringList dis{QStringLiteral("无")};
    for (int k = 1; k <= 8; ++k) dis << QStringLiteral("%1DI").arg(k);
    di_ = List(this, IDC_DI, dis, s.di);
    analog_ = List(this, IDC_ANALOG, {QStringLiteral("无"), QStringLiteral("有")}, s.analog);

    auto* grid = new QGridLayout;
    auto row = [this, grid](int r, int c, const QString& label, QWidget* w) {
        grid->addWidget(new QLabel(label, this), r, c);
        grid->addWidget(w, r, c + 1);
    };
    row(0, 0, QStringLiteral("序号"), serial_);
    row(0, 2, QStringLiteral("仪表型号"), model_);
    row(1, 0, QStringLiteral("额定电压"), ratedVoltage_);
    row(1, 2, QStringLiteral("额定电流"), ratedCurrent_);
    row(2, 0, QStringLiteral("测试电压"), testVoltage_);
    row(2, 2, QStringLiteral("测试电流"), testCurrent_);
    row(3, 0, QStringLiteral("测试员"), tester_);
    grid->addWidget(english_, 3, 3);
    // DI and analog input: kept with the settings, never shown.
    for (QWidget* w : {static_cast<QWidget*>(di_), static_cast<QWidget*>(analog_)}) {
        w->setVisible(false);
        w->setEnabled(false);
    }

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("button%1").arg(IDOK));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("button%1").arg(IDCANCEL));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
}

ReportSettings CReportSetupDlg::Settings() const {
    ReportSettings s = settings_;
    s.serial = serial_->text().toStdString();
    s.model = model_->text().toStdString();
    s.english = english_->isChecked();
    s.ratedVoltage = ratedVoltage_->currentIndex();
    s.ratedCurrent = ratedCurrent_->currentIndex();
    s.tester = tester_->currentIndex();
    s.di = di_->currentIndex();
    s.analog = analog_->currentIndex();
    return s;
}

int CReportSetupDlg::TestVoltage() const {
    return testVoltage_->currentIndex();
}
int CReportSetupDlg::TestCurrent() const {
    return testCurrent_->currentIndex();
}
