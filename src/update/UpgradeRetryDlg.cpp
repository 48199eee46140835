#include "update/UpgradeRetryDlg.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/ModbusSession.h"
#include "link/TextEncoding.h"
#include "resources/Resources.h"
#include "update/ImageFile.h"

namespace {

constexpr int kLogEdit = 1054;
constexpr int kImageEdit = 1080;
constexpr int kImageButton = 1057;
constexpr int kUpgradeButton = 1083;
constexpr int kProgressEdit = 1002;
constexpr int kBarId = 123;

const QString kUpgrade = QStringLiteral("升级");
const QString kPause = QStringLiteral("暂停");

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

CUpgradeRetryDlg::CUpgradeRetryDlg(FormContext& ctx, UpdateShared& shared, QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      shared_(shared),
      sequences_(ctx.link, ctx.clock, shared.progress),
      workerSink_(ctx.sink, [this](std::function<void()> f) {
          QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
      }) {
    setWindowTitle(QStringLiteral("失败再升级"));
    setObjectName(QStringLiteral("dialog%1").arg(kDialogId));
    setModal(false);
    resize(500, 320);
    chooser_ = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QString(),
                                            QStringLiteral("文本文件(*.bin) | *.bin"));
    };
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CUpgradeRetryDlg::OnProgressTimer);

    logEdit_ = new QPlainTextEdit(this);
    logEdit_->setObjectName(QStringLiteral("edit%1").arg(kLogEdit));
    logEdit_->setReadOnly(true);
    logEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    image_ = new QLineEdit(Q(shared_.ImagePath()), this);
    image_->setObjectName(QStringLiteral("edit%1").arg(kImageEdit));
    chooseImage_ = new QPushButton(QStringLiteral("  添加bin文件"), this);
    chooseImage_->setObjectName(QStringLiteral("button%1").arg(kImageButton));
    upgrade_ = new QPushButton(kUpgrade, this);
    upgrade_->setObjectName(QStringLiteral("button%1").arg(kUpgradeButton));
    progress_ = new QLineEdit(this);
    progress_->setObjectName(QStringLiteral("edit%1").arg(kProgressEdit));
    progress_->setReadOnly(true);
    connect(chooseImage_, &QPushButton::clicked, this, &CUpgradeRetryDlg::OnChooseImage);
    connect(upgrade_, &QPushButton::clicked, this, &CUpgradeRetryDlg::OnUpgrade);
    // In the template, never shown.
    for (int id : {res::IDOK, res::IDCANCEL}) {
        auto* b = new QPushButton(id == res::IDOK ? QStringLiteral("OK") : QStringLiteral("Cancel"), this);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        b->setVisible(false);
    }

    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(image_, 1);
    imageRow->addWidget(chooseImage_);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(progress_, 1);
    runRow->addWidget(upgrade_);
    barSlot_ = new QVBoxLayout;
    auto* top = new QVBoxLayout(this);
    top->addWidget(logEdit_, 1);
    top->addLayout(imageRow);
    top->addLayout(runRow);
    top->addLayout(barSlot_);
}

CUpgradeRetryDlg::~CUpgradeRetryDlg() {
    timer_.stop();
    // A worker waiting for its closing message must not wait for this thread, which now
    // waits for it.
    workerSink_.Close();
    if (worker_.joinable()) worker_.join();
}

void CUpgradeRetryDlg::OnChooseImage() {
    const QString path = chooser_ ? chooser_() : QString();
    if (path.isEmpty()) return;
    imagePath_ = path;
    image_->setText(path);
    std::string why;
    if (const auto size = ProbeImage(path.toStdString(), why)) shared_.imageSize = *size;
}

void CUpgradeRetryDlg::OnUpgrade() {
    const std::string appTitle = res::kAppTitle.toStdString();
    if (!ModbusSession(ctx_.link, ctx_.clock).Connected()) {
        (void)ctx_.sink.Show(std::string(update_text::kCannotOpenPort), std::string(update_text::kError),
                             MsgIcon::Exclamation, MsgButtons::RetryCancel);
        return;
    }
    if (image_->text().isEmpty()) {
        (void)ctx_.sink.Show(std::string(update_text::kAddImageRetry), appTitle, MsgIcon::Exclamation,
                             MsgButtons::Ok);
        return;
    }
    if (upgrade_->text() == kUpgrade) {
        // A scan's reads would swallow the acknowledges; two transfers share one counter.
        if (!shared_.TryAcquireLink(UpdateShared::LinkUser::Retry)) {
            (void)ctx_.sink.Show(std::string(LinkBusyText(shared_.LinkOwner())),
                                 std::string(update_text::kNotice), MsgIcon::Stop, MsgButtons::Ok);
            return;
        }
        upgrade_->setText(kPause);
        bar_ = new QProgressBar(this);
        bar_->setObjectName(QStringLiteral("progress%1").arg(kBarId));
        bar_->setRange(0, 100);
        bar_->setValue(0);
        barSlot_->addWidget(bar_);
        shared_.progress = 0;
        timer_.start(kProgressMs);
        // The image chosen in the update form wins over the one chosen here.
        const std::string chosen = shared_.ImagePath();
        if (!chosen.empty()) image_->setText(Q(chosen));
        const std::string image = chosen.empty() ? image_->text().toStdString() : chosen;
        std::string why;
        sentSize_ = ProbeImage(image, why).value_or(shared_.imageSize.load());
        delivered_ = false;
        busy_ = true;
        emit BusyChanged();
        if (worker_.joinable()) worker_.join();
        worker_ = std::thread([this, image, appTitle] {
            const auto outcome = sequences_.SequenceB(image, log_);
            using O = UpdateSequences::RetryOutcome;
            switch (outcome) {
                case O::Delivered:
                    delivered_ = true;
                    (void)workerSink_.Show(std::string(update_text::kRetrySucceeded), appTitle,
                                           MsgIcon::Information, MsgButtons::Ok);
                    break;
                case O::Failed:
                    (void)workerSink_.Show(std::string(update_text::kRetryFailed), appTitle, MsgIcon::Stop,
                                           MsgButtons::Ok);
                    break;
                case O::ImageUnreadable:
                case O::PathTooLong: {
                    const auto state =
                        outcome == O::PathTooLong ? ModuleState::PathTooLong : ModuleState::ImageUnreadable;
                    (void)workerSink_.Show(std::string(ModuleStateText(state)), appTitle, MsgIcon::Stop,
                                           MsgButtons::Ok);
                    break;
                }
                case O::NoBootloader:
                    (void)workerSink_.Show(std::string(update_text::kRetryNoBootloader), appTitle,
                                           MsgIcon::Exclamation, MsgButtons::Ok);
                    break;
                case O::Interrupted:
                    break;  // the pause has said what happened
            }
            if (outcome == O::Delivered || outcome == O::Failed) ctx_.clock.sleep(kAfterMessageMs);
            busy_ = false;
            shared_.ReleaseLink();
            QMetaObject::invokeMethod(
                this, [this] { OnWorkerEnded(); }, Qt::QueuedConnection);
        });
        return;
    }
    if (ctx_.sink.Show(std::string(update_text::kAskPause), std::string(update_text::kNotice),
                       MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
        return;
    timer_.stop();
    if (ctx_.link.port != nullptr) ctx_.link.port->Close();
    ctx_.clock.sleep(kPauseSettleMs);
    DestroyBar();
    (void)ctx_.sink.Show(std::string(update_text::kWaitTenSeconds), std::string(update_text::kNotice),
                         MsgIcon::Stop, MsgButtons::Ok);
}

void CUpgradeRetryDlg::OnProgressTimer() {
    // The counter stops before the last block; a delivered image was sent whole.
    const std::uint32_t size = sentSize_;
    const std::uint32_t done = delivered_ ? size : shared_.progress.load();
    progress_->setText(Q(ProgressText(done, size)));
    if (bar_ != nullptr) bar_->setValue(ProgressPercent(done, size));
    ShowLog();
    if (!busy_) {
        timer_.stop();
        DestroyBar();
    }
}

void CUpgradeRetryDlg::OnWorkerEnded() {
    if (worker_.joinable()) worker_.join();
    upgrade_->setText(kUpgrade);
    upgrade_->setEnabled(startAllowed_);
    if (delivered_) progress_->setText(Q(ProgressText(sentSize_, sentSize_)));
    ShowLog();
    emit WorkerEnded();
    emit BusyChanged();
}

void CUpgradeRetryDlg::SetStartAllowed(bool allowed) {
    startAllowed_ = allowed;
    // While it transfers the button is the pause, always at hand.
    upgrade_->setEnabled(busy_ || upgrade_->text() == kPause || allowed);
}

void CUpgradeRetryDlg::reject() {
    if (busy_) {
        if (ctx_.sink.Show(std::string(update_text::kAskLeaveDuringUpdate), std::string(update_text::kNotice),
                           MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
            return;
        // As 暂停 does: the closed port ends the worker's waits at once.
        if (ctx_.link.port != nullptr) ctx_.link.port->Close();
    }
    QDialog::reject();
}

void CUpgradeRetryDlg::ShowLog() {
    // Bootloaders may answer in GBK; the log keeps their bytes as they came.
    QString text = Q(DeviceTextToUtf8(log_.Text()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (logEdit_->toPlainText() != text) {
        logEdit_->setPlainText(text);
        logEdit_->moveCursor(QTextCursor::End);
    }
}

void CUpgradeRetryDlg::DestroyBar() {
    delete bar_;
    bar_ = nullptr;
}
