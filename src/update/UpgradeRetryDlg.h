#pragma once
// "失败再升级" (template 177): a non-modal dialog that updates the module waiting in its
// bootloader (sequence B) on its own worker, with its own log of the bootloader's replies,
// a 250 ms progress timer and the pause. Each press of the update form's retry button makes
// a new one; it lives until the form goes.
//
// The worker's closing message ("升级成功!" / "升级失败!", or that no bootloader answered) is
// handed to the user-interface thread; the destructor releases a worker waiting for it and
// then waits for the worker. Closing the dialog while it transfers asks first, as leaving the
// update form does.

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "formkit/FormContext.h"
#include "link/UpdateLog.h"
#include "update/HandOffSink.h"
#include "update/UpdateSequences.h"
#include "update/UpdateShared.h"

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

class CUpgradeRetryDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDialogId = 177;
    static constexpr int kProgressMs = 250;
    static constexpr int kPauseSettleMs = 1000;
    static constexpr int kAfterMessageMs = 1000;

    CUpgradeRetryDlg(FormContext& ctx, UpdateShared& shared, QWidget* parent = nullptr);
    ~CUpgradeRetryDlg() override;

    void OnChooseImage();
    void OnUpgrade();
    void OnProgressTimer();
    // Whether 升级 may start a transfer now (no scan, batch or other retry runs); the update
    // form says so, and the handler still refuses through the shared link.
    void SetStartAllowed(bool allowed);
    // Closing (Escape, the title bar) during a transfer asks, and pauses on yes.
    void reject() override;

    void SetImageChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

    QPlainTextEdit* LogEdit() const { return logEdit_; }
    QLineEdit* ImageEdit() const { return image_; }
    QLineEdit* ProgressEdit() const { return progress_; }
    QPushButton* UpgradeButton() const { return upgrade_; }
    QProgressBar* Bar() const { return bar_; }
    bool ProgressTimerActive() const { return timer_.isActive(); }
    bool Busy() const { return busy_; }
    const UpdateLog& Log() const { return log_; }

signals:
    // The worker has ended (queued to the user-interface thread).
    void WorkerEnded();
    // A worker started or ended.
    void BusyChanged();

private:
    void OnWorkerEnded();
    void ShowLog();
    void DestroyBar();

    FormContext& ctx_;
    UpdateShared& shared_;
    UpdateLog log_;
    UpdateSequences sequences_;
    HandOffSink workerSink_;
    std::thread worker_;
    std::atomic<bool> busy_{false};
    // The image of the running transfer was delivered whole.
    std::atomic<bool> delivered_{false};
    // The size of the image being sent (its progress is shown against it).
    std::uint32_t sentSize_ = 0;
    bool startAllowed_ = true;
    std::function<QString()> chooser_;
    QString imagePath_;
    QTimer timer_;

    QPlainTextEdit* logEdit_;
    QLineEdit* image_;
    QLineEdit* progress_;
    QPushButton* chooseImage_;
    QPushButton* upgrade_;
    QVBoxLayout* barSlot_;
    QProgressBar* bar_ = nullptr;
};
