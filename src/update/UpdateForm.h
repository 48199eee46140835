#pragma once
// View 174, "在线升级": the bus scan on timer 1, the module grid with check boxes, the image
// chooser, the batch update on a worker thread with its 250 ms progress timer, the pause,
// and the retry dialogs. The form only places texts and runs timers; the scan, the batch
// and the sequences are core (BusScan, UpdateBatch, UpdateSequences).
//
// Its destruction waits for a running worker (the pause makes that short: with the port
// closed the worker's waits end at once). While a transfer runs (the batch or a retry) the
// frame may take it away only after MayLeave asked the user and paused.
//
// The scan and every transfer exclude each other: each holds the shared link while it runs,
// the buttons that would start another are disabled, and the handlers refuse.

#include <QList>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "link/UpdateLog.h"
#include "update/BusScan.h"
#include "update/UpdateBatch.h"
#include "update/UpdateSequences.h"
#include "update/UpdateShared.h"

class CGridCtrl;
class CUpgradeRetryDlg;
class QCheckBox;
class QHBoxLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CUpdateForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 174;
    static constexpr int kProgressMs = 250;
    static constexpr int kSelectWaitMs = 50;  // per row, as the check boxes are read
    static constexpr int kPauseSettleMs = 1000;
    static constexpr int kGridRows = 248;
    static constexpr int kGridCols = 5;

    explicit CUpdateForm(FormContext& ctx, QWidget* parent = nullptr);
    // With the program's shared update state and log given (tests bring their own).
    CUpdateForm(FormContext& ctx, UpdateShared& shared, UpdateLog& log, QWidget* parent = nullptr);
    ~CUpdateForm() override;

    void OnInitialUpdate() override;
    // Asks first while a transfer runs ("an update is running": pause and leave, or stay);
    // leaving pauses it as 暂停 does, so the worker ends at once.
    bool MayLeave() override;
    void OnQuery();
    void OnScanTimer();
    void OnSelectAll();
    void OnChooseImage();
    void OnUpgrade();
    void OnProgressTimer();
    void OnRetry();

    // The file dialog, replaceable for tests; an empty path is a cancel.
    void SetImageChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

    CGridCtrl& Grid() const { return *grid_; }
    QLineEdit* StartEdit() const { return start_; }
    QLineEdit* EndEdit() const { return end_; }
    QLineEdit* QueriedEdit() const { return queried_; }
    QLineEdit* ImageEdit() const { return image_; }
    QCheckBox* SelectAllBox() const { return selectAll_; }
    QPushButton* QueryButton() const { return query_; }
    QPushButton* UpgradeButton() const { return upgrade_; }
    QPushButton* ImageButton() const { return chooseImage_; }
    QPushButton* RetryButton() const { return retry_; }
    // The scan's progress bar while it scans; nullptr otherwise.
    QProgressBar* ScanBar() const { return scanBar_; }
    bool ScanTimerActive() const { return scanTimer_.isActive(); }
    bool ProgressTimerActive() const { return progressTimer_.isActive(); }
    const UpdateBatch& Batch() const { return batch_; }
    bool WorkerRunning() const { return worker_.joinable(); }
    // A batch or one of this form's retry dialogs is transferring.
    bool TransferRunning() const;

private:
    void SetUpGrid(int selectWidth);
    void StopScan();
    void PaintStates();
    void EndBatch();
    // Enables what may start now: never a scan beside a transfer, nor a transfer beside a scan.
    void UpdateButtons();
    void Message(std::string_view text, std::string_view caption, MsgIcon icon,
                 MsgButtons buttons = MsgButtons::Ok);

    FormContext& ctx_;
    UpdateShared& shared_;
    UpdateLog& log_;
    BusScan scan_;
    UpdateBatch batch_;
    UpdateSequences sequences_;
    std::thread worker_;
    std::function<QString()> chooser_;
    QString imagePath_;
    // The size of the image the running batch sends (its progress is shown against it).
    std::uint32_t sentSize_ = 0;
    bool scanned_ = false;
    QList<QPointer<CUpgradeRetryDlg>> retries_;
    QTimer scanTimer_;
    QTimer progressTimer_;

    CGridCtrl* grid_;
    QLineEdit* start_;
    QLineEdit* end_;
    QLineEdit* queried_;
    QLineEdit* image_;
    QCheckBox* selectAll_;
    QPushButton* query_;
    QPushButton* upgrade_;
    QPushButton* chooseImage_;
    QPushButton* retry_;
    QHBoxLayout* barSlot_;
    QProgressBar* scanBar_ = nullptr;
};
