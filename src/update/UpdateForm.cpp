#include "update/UpdateForm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "formkit/CellColours.h"
#include "link/ModbusSession.h"
#include "resources/Resources.h"
#include "run/RunState.h"
#include "update/ImageFile.h"
#include "update/UpgradeRetryDlg.h"
#include "widgets/GridCtrl.h"

namespace {

constexpr int kStartEdit = 1076;
constexpr int kEndEdit = 1077;
constexpr int kSelectAll = 1078;
constexpr int kQueryButton = 1079;
constexpr int kImageEdit = 1080;
constexpr int kImageButton = 1081;
constexpr int kUpgradeButton = 1082;
constexpr int kRetryButton = 1083;
constexpr int kQueriedEdit = 1084;
constexpr int kScanBarId = 123;

constexpr int kColNumber = 0;
constexpr int kColAddress = 1;
constexpr int kColProgress = 2;
constexpr int kColState = 3;
constexpr int kColSelect = 4;

const QString kQuery = QStringLiteral("查询");
const QString kStop = QStringLiteral("停止");
const QString kUpgrade = QStringLiteral("升级");
const QString kPause = QStringLiteral("暂停");
const QString kImageFilter = QStringLiteral("文本文件(*.bin) | *.bin");

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

template <typename W>
W* Named(W* w, const char* kind, int id) {
    w->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(id));
    return w;
}

}  // namespace

CUpdateForm::CUpdateForm(FormContext& ctx, QWidget* parent)
    : CUpdateForm(ctx, ctx.run.update, ctx.run.updateLog, parent) {}

CUpdateForm::CUpdateForm(FormContext& ctx, UpdateShared& shared, UpdateLog& log, QWidget* parent)
    : CFormView(kFormId, parent),
      ctx_(ctx),
      shared_(shared),
      log_(log),
      scan_(ctx.link, ctx.clock),
      sequences_(ctx.link, ctx.clock, shared.progress) {
    chooser_ = [this] { return QFileDialog::getOpenFileName(this, QString(), QString(), kImageFilter); };
    scanTimer_.setTimerType(Qt::PreciseTimer);
    progressTimer_.setTimerType(Qt::PreciseTimer);
    connect(&scanTimer_, &QTimer::timeout, this, &CUpdateForm::OnScanTimer);
    connect(&progressTimer_, &QTimer::timeout, this, &CUpdateForm::OnProgressTimer);

    start_ = Named(new QLineEdit(this), "edit", kStartEdit);
    end_ = Named(new QLineEdit(this), "edit", kEndEdit);
    queried_ = Named(new QLineEdit(this), "edit", kQueriedEdit);
    queried_->setReadOnly(true);
    image_ = Named(new QLineEdit(this), "edit", kImageEdit);
    image_->setReadOnly(true);
    for (QLineEdit* e : {start_, end_, queried_}) e->setFixedWidth(60);
    selectAll_ = Named(new QCheckBox(QStringLiteral("全选"), this), "check", kSelectAll);
    query_ = Named(new QPushButton(kQuery, this), "button", kQueryButton);
    upgrade_ = Named(new QPushButton(kUpgrade, this), "button", kUpgradeButton);
    chooseImage_ = Named(new QPushButton(QStringLiteral("添加bin文件"), this), "button", kImageButton);
    retry_ = Named(new QPushButton(QStringLiteral("失败再升级"), this), "button", kRetryButton);
    connect(query_, &QPushButton::clicked, this, &CUpdateForm::OnQuery);
    connect(selectAll_, &QCheckBox::clicked, this, &CUpdateForm::OnSelectAll);
    connect(chooseImage_, &QPushButton::clicked, this, &CUpdateForm::OnChooseImage);
    connect(upgrade_, &QPushButton::clicked, this, &CUpdateForm::OnUpgrade);
    connect(retry_, &QPushButton::clicked, this, &CUpdateForm::OnRetry);

    grid_ = Named(new CGridCtrl(this), "grid", 1002);
    grid_->SetDefaultBkColour(cellcolours::kNormal);

    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(new QLabel(QStringLiteral("起始地址"), this));
    scanRow->addWidget(start_);
    scanRow->addWidget(new QLabel(QStringLiteral("结束地址"), this));
    scanRow->addWidget(end_);
    scanRow->addWidget(query_);
    scanRow->addWidget(new QLabel(QStringLiteral("已查询"), this));
    scanRow->addWidget(queried_);
    scanRow->addStretch(1);
    // Where the scan's progress bar appears while it scans (208 pixels wide).
    barSlot_ = new QHBoxLayout;
    auto* slot = new QWidget(this);
    slot->setFixedSize(208, 20);
    slot->setLayout(barSlot_);
    barSlot_->setContentsMargins(0, 0, 0, 0);
    scanRow->addWidget(slot);
    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(new QLabel(QStringLiteral("升级文件"), this));
    imageRow->addWidget(image_, 1);
    imageRow->addWidget(chooseImage_);
    imageRow->addWidget(upgrade_);
    imageRow->addWidget(retry_);
    imageRow->addSpacing(12);
    imageRow->addWidget(selectAll_);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);
    top->addLayout(scanRow);
    top->addLayout(imageRow);
    top->addWidget(grid_, 1);
}

CUpdateForm::~CUpdateForm() {
    scanTimer_.stop();
    progressTimer_.stop();
    // The worker uses this form's batch and sequences: it must be gone before they are.
    // One still transferring (the program quits under it) is ended as 暂停 ends it, by
    // the closed port, rather than waited for through the rest of the image.
    if (worker_.joinable() && batch_.Busy() && ctx_.link.port != nullptr) ctx_.link.port->Close();
    if (worker_.joinable()) worker_.join();
    // The shared link outlives the form: a scan cut short gives it back.
    if (query_->text() == kStop) shared_.ReleaseLink();
}

void CUpdateForm::Message(std::string_view text, std::string_view caption, MsgIcon icon, MsgButtons buttons) {
    (void)ctx_.sink.Show(std::string(text), std::string(caption), icon, buttons);
}

void CUpdateForm::SetUpGrid(int selectWidth) {
    CGridCtrl& g = *grid_;
    g.clearContents();
    g.SetRowCount(kGridRows);
    g.SetColumnCount(kGridCols);
    g.SetFixedRowCount(1);
    g.SetFixedColumnCount(1);
    g.setSelectionMode(QAbstractItemView::NoSelection);
    g.horizontalHeader()->setStretchLastSection(true);
    const int widths[kGridCols] = {60, 60, 120, 120, selectWidth};
    const char* headers[kGridCols] = {"编号", "地址", "进度", "状态", "选择"};
    for (int c = 0; c < kGridCols; ++c) {
        g.setColumnWidth(c, widths[c]);
        g.SetItemText(0, c, QString::fromUtf8(headers[c]));
    }
    for (int r = 0; r < kGridRows; ++r) {
        g.setRowHeight(r, r == 0 ? 30 : 25);
        for (int c = 0; c < kGridCols; ++c) {
            g.SetCellType(r, c, CGridCtrl::CellType::Text);
            if (r > 0) g.SetItemText(r, c, QString());
            g.SetItemReadOnly(r, c, true);
            g.SetItemAlignment(r, c, Qt::AlignCenter);
        }
    }
}

void CUpdateForm::OnInitialUpdate() {
    SetUpGrid(30);
    start_->setText(QString::number(BusScan::kMinAddress));
    end_->setText(QString::number(BusScan::kMaxAddress));
    selectAll_->setEnabled(false);
    upgrade_->setEnabled(false);
    image_->setText(imagePath_);
    UpdateButtons();
    if (!ModbusSession(ctx_.link, ctx_.clock).Connected())
        Message(update_text::kCannotOpenPort, update_text::kError, MsgIcon::Exclamation,
                MsgButtons::RetryCancel);
}

void CUpdateForm::OnQuery() {
    // A running scan can always be stopped, also once the port has gone.
    if (query_->text() == kStop) {
        StopScan();
        return;
    }
    if (!ModbusSession(ctx_.link, ctx_.clock).Connected()) {
        Message(update_text::kCannotConnect, update_text::kError, MsgIcon::Exclamation,
                MsgButtons::RetryCancel);
        return;
    }
    bool okFrom = false;
    bool okTo = false;
    const int from = start_->text().trimmed().toInt(&okFrom);
    const int to = end_->text().trimmed().toInt(&okTo);
    // Text that is no number is no address either.
    if (!okFrom || !okTo || !BusScan::RangeAllowed(from, to)) {
        Message(update_text::kRangeWarning, update_text::kWarningCaption, MsgIcon::Stop);
        return;
    }
    // A scan's reads would swallow a transfer's acknowledges.
    if (!shared_.TryAcquireLink(UpdateShared::LinkUser::Scan)) {
        Message(LinkBusyText(shared_.LinkOwner()), update_text::kNotice, MsgIcon::Stop);
        return;
    }
    selectAll_->setChecked(false);
    batch_.SetFound({});
    SetUpGrid(60);
    queried_->setText(QStringLiteral("0"));
    if (scan_.Start(from, to) != BusScan::StartResult::Started) {
        shared_.ReleaseLink();
        return;
    }
    query_->setText(kStop);
    UpdateButtons();
    scanTimer_.start(scan_.PeriodMs());
    scanBar_ = Named(new QProgressBar(this), "progress", kScanBarId);
    scanBar_->setRange(0, 100);
    scanBar_->setValue(0);
    scanBar_->setTextVisible(false);
    barSlot_->addWidget(scanBar_);
}

void CUpdateForm::OnScanTimer() {
    const BusScan::TickResult tick = scan_.OnTick();
    if (tick.valid) {
        batch_.SetFound(scan_.Found());
        for (int r = 1; r <= batch_.FoundCount(); ++r) {
            grid_->SetItemText(r, kColNumber, QString::number(r));
            grid_->SetItemText(r, kColAddress, QString::number(batch_.FoundAddress(r)));
            grid_->SetItemText(r, kColState, Q(ModuleStateText(ModuleState::Waiting)));
            if (grid_->GetCellType(r, kColSelect) != CGridCtrl::CellType::Check) {
                grid_->SetItemReadOnly(r, kColSelect, false);
                grid_->SetCellType(r, kColSelect, CGridCtrl::CellType::Check);
            }
        }
    }
    queried_->setText(QString::number(scan_.Queried()));
    if (scanBar_ != nullptr) scanBar_->setValue(scan_.Percent());
    if (tick.finished || tick.portGone) StopScan();
}

void CUpdateForm::StopScan() {
    scan_.Stop();
    scanTimer_.stop();
    delete scanBar_;
    scanBar_ = nullptr;
    if (query_->text() == kStop) shared_.ReleaseLink();
    query_->setText(kQuery);
    scanned_ = true;
    selectAll_->setEnabled(true);
    UpdateButtons();
}

void CUpdateForm::OnSelectAll() {
    for (int r = 1; r <= batch_.FoundCount(); ++r) grid_->SetCheck(r, kColSelect, selectAll_->isChecked());
}

void CUpdateForm::OnChooseImage() {
    const QString path = chooser_ ? chooser_() : QString();
    if (path.isEmpty()) return;
    imagePath_ = path;
    image_->setText(path);
    shared_.SetImagePath(path.toStdString());
    std::string why;
    // One that cannot be opened keeps the size of the last; the transfer says why it fails.
    if (const auto size = ProbeImage(path.toStdString(), why)) shared_.imageSize = *size;
}

void CUpdateForm::OnUpgrade() {
    const QString path = image_->text();
    const std::string appTitle = res::kAppTitle.toStdString();
    if (path.isEmpty()) {
        Message(update_text::kAddImage, appTitle, MsgIcon::Exclamation);
        return;
    }
    if (upgrade_->text() == kUpgrade) {
        // After a pause the port stays closed: starting would end at once with nothing sent.
        if (!ModbusSession(ctx_.link, ctx_.clock).Connected()) {
            Message(update_text::kPortClosedConnect, update_text::kNotice, MsgIcon::Stop);
            return;
        }
        std::vector<bool> selected;
        for (int r = 1; r <= batch_.FoundCount(); ++r) {
            selected.push_back(grid_->GetCheck(r, kColSelect));
            ctx_.clock.sleep(kSelectWaitMs);
        }
        // Only one user owns the link: a retry may still be transferring, a scan reading.
        if (std::find(selected.begin(), selected.end(), true) != selected.end() &&
            !shared_.TryAcquireLink(UpdateShared::LinkUser::Batch)) {
            Message(LinkBusyText(shared_.LinkOwner()), update_text::kNotice, MsgIcon::Stop);
            return;
        }
        const std::vector<UpdateBatch::Row> rows = batch_.Queue(selected);
        PaintStates();
        if (rows.empty()) {
            Message(update_text::kSelectOne, appTitle, MsgIcon::Exclamation);
            return;
        }
        std::string why;
        sentSize_ = ProbeImage(path.toStdString(), why).value_or(shared_.imageSize.load());
        upgrade_->setText(kPause);
        batch_.Begin();
        UpdateButtons();
        progressTimer_.start(kProgressMs);
        if (worker_.joinable()) worker_.join();  // a finished batch's thread
        worker_ = std::thread([this, rows, image = path.toStdString()] {
            batch_.Run(rows, sequences_, image, log_);
            shared_.ReleaseLink();
        });
        return;
    }
    if (ctx_.sink.Show(std::string(update_text::kAskPause), std::string(update_text::kNotice),
                       MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
        return;
    if (ctx_.link.port != nullptr) ctx_.link.port->Close();
    ctx_.clock.sleep(kPauseSettleMs);
    Message(update_text::kPaused, appTitle, MsgIcon::Stop);
    query_->setEnabled(true);
    Message(update_text::kWaitTenSeconds, update_text::kNotice, MsgIcon::Stop);
}

void CUpdateForm::PaintStates() {
    for (int r = 1; r <= batch_.FoundCount(); ++r) {
        const ModuleState state = batch_.State(r);
        const QString text = Q(ModuleStateText(state));
        if (grid_->GetItemText(r, kColState) != text) grid_->SetItemText(r, kColState, text);
        // The counter stops before the last block; a delivered image was sent whole.
        if (IsDelivered(state)) grid_->SetItemText(r, kColProgress, Q(ProgressText(sentSize_, sentSize_)));
    }
}

void CUpdateForm::OnProgressTimer() {
    const int row = batch_.CurrentRow();
    if (row >= 1 && row <= batch_.FoundCount())
        grid_->SetItemText(row, kColProgress, Q(ProgressText(shared_.progress, sentSize_)));
    PaintStates();
    if (!batch_.Busy()) {
        progressTimer_.stop();
        EndBatch();
    }
}

void CUpdateForm::EndBatch() {
    if (worker_.joinable()) worker_.join();  // it has left its loop; only its return is left
    upgrade_->setText(kUpgrade);
    UpdateButtons();
}

void CUpdateForm::OnRetry() {
    auto* dlg = new CUpgradeRetryDlg(ctx_, shared_, this);
    retries_.append(dlg);
    connect(dlg, &CUpgradeRetryDlg::BusyChanged, this, &CUpdateForm::UpdateButtons);
    UpdateButtons();
    dlg->show();
}

bool CUpdateForm::TransferRunning() const {
    if (upgrade_->text() == kPause || batch_.Busy()) return true;
    return std::any_of(retries_.begin(), retries_.end(),
                       [](const auto& d) { return d != nullptr && d->Busy(); });
}

void CUpdateForm::UpdateButtons() {
    const bool scanning = query_->text() == kStop;
    const bool batch = upgrade_->text() == kPause;
    const bool retrying = std::any_of(retries_.begin(), retries_.end(),
                                      [](const auto& d) { return d != nullptr && d->Busy(); });
    // A running scan or batch keeps its own button: it is how it is stopped or paused.
    query_->setEnabled(scanning || (!batch && !retrying));
    upgrade_->setEnabled(batch || (scanned_ && !scanning && !retrying));
    for (const auto& d : retries_)
        if (d != nullptr) d->SetStartAllowed(!scanning && !batch && (d->Busy() || !retrying));
}

bool CUpdateForm::MayLeave() {
    if (!TransferRunning()) return true;
    if (ctx_.sink.Show(std::string(update_text::kAskLeaveDuringUpdate), std::string(update_text::kNotice),
                       MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
        return false;
    // As 暂停 does: the closed port ends every wait of the workers at once.
    if (ctx_.link.port != nullptr) ctx_.link.port->Close();
    return true;
}
