#include "calibration/StdSourceDlg.h"

#include <QDoubleValidator>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "calibration/AdjustIds.h"

namespace {
constexpr std::array<int, 6> kIds{adjust::IDC_STD_UA, adjust::IDC_STD_UB, adjust::IDC_STD_UC,
                                  adjust::IDC_STD_IA, adjust::IDC_STD_IB, adjust::IDC_STD_IC};
constexpr std::array<const char*, 6> kLabels{"Ua", "Ub", "Uc", "Ia", "Ib", "Ic"};
constexpr double kLargest = 100000.0;

float* Field(SourceSettings& s, std::size_t k) {
    std::array<float*, 6> f{&s.ua, &s.ub, &s.uc, &s.ia, &s.ib, &s.ic};
    return f[k];
}
}  // namespace

CStdSourceDlg::CStdSourceDlg(const SourceSettings& values, MessageSink& sink, QWidget* parent)
    : QDialog(parent), sink_(sink), values_(values) {
    setObjectName(QStringLiteral("dialog%1").arg(adjust::kStdSourceDlgId));
    setWindowTitle(QStringLiteral("标准源设置"));
    auto* grid = new QGridLayout;
    for (std::size_t k = 0; k < edits_.size(); ++k) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("edit%1").arg(kIds[k]));
        auto* v = new QDoubleValidator(0.0, kLargest, 6, edit);
        v->setNotation(QDoubleValidator::StandardNotation);
        v->setLocale(QLocale::c());
        edit->setValidator(v);
        edit->setText(QString::number(static_cast<double>(*Field(values_, k)), 'g', 7));
        edits_[k] = edit;
        const int row = static_cast<int>(k % 3);
        const int col = k < 3 ? 0 : 3;
        grid->addWidget(new QLabel(QString::fromLatin1(kLabels[k]), this), row, col);
        grid->addWidget(edit, row, col + 1);
        grid->addWidget(new QLabel(k < 3 ? QStringLiteral("V") : QStringLiteral("A"), this), row, col + 2);
    }
    ok_ = new QPushButton(QStringLiteral("确定"), this);
    ok_->setObjectName(QStringLiteral("button%1").arg(adjust::IDOK));
    ok_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("button%1").arg(adjust::IDCANCEL));
    connect(ok_, &QPushButton::clicked, this, [this] { OnOk(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
}

bool CStdSourceDlg::OnOk() {
    SourceSettings v = values_;
    for (std::size_t k = 0; k < edits_.size(); ++k) {
        bool ok = false;
        const double d = QLocale::c().toDouble(edits_[k]->text().trimmed(), &ok);
        if (!ok || !std::isfinite(d) || d < 0.0 || d > kLargest) {
            sink_.Show(kEnterANumber, "KVT40", MsgIcon::Exclamation, MsgButtons::Ok);
            edits_[k]->setFocus();
            edits_[k]->selectAll();
            return false;
        }
        *Field(v, k) = static_cast<float>(d);
    }
    values_ = v;
    accept();
    return true;
}
