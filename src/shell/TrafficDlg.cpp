#include "shell/TrafficDlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/TextEncoding.h"
#include "link/UpdateLog.h"
#include "resources/Resources.h"

CTrafficDlg::CTrafficDlg(const UpdateLog& updateLog, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Communication Traffic"));
    setObjectName(QStringLiteral("dialog%1").arg(res::IDD_TRAFFIC));
    setAttribute(Qt::WA_DeleteOnClose);  // nothing refers to a closed window
    setModal(false);
    resize(420, 300);

    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName(QStringLiteral("edit%1").arg(res::IDC_TRAFFIC_EDIT));
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Bootloaders may answer in GBK; the log keeps their bytes as they came.
    QString log = QString::fromStdString(DeviceTextToUtf8(updateLog.Text()));
    log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    edit_->setPlainText(log);
    text_ = edit_->toPlainText();  // the member is a copy: edits never reach the log

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button%1").arg(res::IDOK));
    ok->setVisible(false);
    ok->setEnabled(false);
    auto* exitBtn = new QPushButton(QStringLiteral("Exit"), this);
    exitBtn->setObjectName(QStringLiteral("button%1").arg(res::IDCANCEL));
    connect(exitBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(exitBtn);
    auto* top = new QVBoxLayout(this);
    top->addWidget(edit_);
    top->addLayout(buttons);
}
