#include "calibration/AdjustHelpDlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "calibration/AdjustHelpText.h"
#include "calibration/AdjustIds.h"

CAdjustHelpDlg::CAdjustHelpDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialog%1").arg(adjust::kHelpDlgId));
    setWindowTitle(QStringLiteral("校表说明"));
    setModal(false);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("edit%1").arg(adjust::IDC_HELP_EDIT));
    text_->setReadOnly(true);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The widget keeps its own line breaks; the text's CR LF are the file convention.
    text_->setPlainText(
        QString::fromStdString(AdjustHelpText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("button%1").arg(adjust::IDOK));
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->addWidget(text_, 1);
    top->addLayout(buttons);
    resize(640, 420);
}
