#include "shell/TrafficDlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "link/LinkMonitor.h"
#include "link/MessageSink.h"
#include "link/TextEncoding.h"
#include "link/UpdateLog.h"
#include "resources/Resources.h"
#include "shell/FrameTableModel.h"

namespace {

// The columns' widths in characters of the fixed font; the hex takes what is left.
constexpr int kColumnChars[] = {10, 3, 4, 3, 22, 6, 4, 8};

QString Caption() {
    return QStringLiteral("Communication Traffic");
}

}  // namespace

CTrafficDlg::CTrafficDlg(const UpdateLog& updateLog, LinkMonitor& monitor, MessageSink& sink, QWidget* parent)
    : QDialog(parent), monitor_(monitor), sink_(sink) {
    setWindowTitle(Caption());
    setObjectName(QStringLiteral("dialog%1").arg(res::IDD_TRAFFIC));
    setAttribute(Qt::WA_DeleteOnClose);  // nothing refers to a closed window
    setModal(false);
    setSizeGripEnabled(true);

    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName(QStringLiteral("edit%1").arg(res::IDC_TRAFFIC_EDIT));
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Bootloaders may answer in GBK; the log keeps their bytes as they came.
    QString log = QString::fromStdString(DeviceTextToUtf8(updateLog.Text()));
    log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    edit_->setPlainText(log);
    text_ = edit_->toPlainText();  // the member is a copy: edits never reach the log

    tabs_ = new QTabWidget(this);
    tabs_->addTab(edit_, QStringLiteral("Update log"));
    tabs_->addTab(BuildFrameView(), QStringLiteral("Frames"));
    tabs_->addTab(BuildStatisticsView(), QStringLiteral("Statistics"));
    // With no update run yet the log is empty: the frames are what there is to see.
    tabs_->setCurrentIndex(log.isEmpty() ? 1 : 0);

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
    top->addWidget(tabs_);
    top->addLayout(buttons);

    // Wide enough for a request's whole line; the hex of a long reply shows whole in its tip.
    const int ch = frames_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    resize(std::max(760, 118 * ch), 480);

    chooser_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save frames"), QStringLiteral("frames.txt"),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
    connect(&refresh_, &QTimer::timeout, this, &CTrafficDlg::Refresh);
    refresh_.start(kRefreshMs);
    Refresh();
}

QWidget* CTrafficDlg::BuildFrameView() {
    auto* page = new QWidget(this);
    filter_ = new QComboBox(page);
    filter_->setObjectName(QStringLiteral("addressFilter"));
    filter_->addItem(QStringLiteral("All addresses"), 0);
    filter_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pause_ = new QPushButton(QStringLiteral("Pause"), page);
    pause_->setObjectName(QStringLiteral("pauseFrames"));
    pause_->setCheckable(true);
    auto* clear = new QPushButton(QStringLiteral("Clear"), page);
    clear->setObjectName(QStringLiteral("clearFrames"));
    auto* save = new QPushButton(QStringLiteral("Save..."), page);
    save->setObjectName(QStringLiteral("saveFrames"));
    count_ = new QLabel(page);
    count_->setObjectName(QStringLiteral("frameCount"));

    model_ = new CFrameTableModel(this);
    frames_ = new QTableView(page);
    frames_->setObjectName(QStringLiteral("frameTable"));
    frames_->setModel(model_);
    frames_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    frames_->setWordWrap(false);
    frames_->setTextElideMode(Qt::ElideRight);
    frames_->setSelectionBehavior(QAbstractItemView::SelectRows);
    frames_->verticalHeader()->setVisible(false);
    frames_->verticalHeader()->setDefaultSectionSize(frames_->fontMetrics().height() + 4);
    frames_->horizontalHeader()->setStretchLastSection(true);
    const int ch = frames_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < CFrameTableModel::Hex; ++c) {
        const int chars = std::max(
            kColumnChars[c],
            static_cast<int>(model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().size()) + 1);
        frames_->setColumnWidth(c, chars * ch + 8);
    }

    connect(filter_, &QComboBox::currentIndexChanged, this,
            [this] { model_->SetAddressFilter(filter_->currentData().toInt()); });
    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        if (!on) Refresh();
    });
    connect(clear, &QPushButton::clicked, this, &CTrafficDlg::OnClear);
    connect(save, &QPushButton::clicked, this, &CTrafficDlg::OnSave);

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Show:"), page));
    bar->addWidget(filter_);
    bar->addWidget(pause_);
    bar->addWidget(clear);
    bar->addWidget(save);
    bar->addStretch();
    bar->addWidget(count_);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(bar);
    layout->addWidget(frames_);
    return page;
}

QWidget* CTrafficDlg::BuildStatisticsView() {
    stats_ = new QTableWidget(0, 10, this);
    stats_->setObjectName(QStringLiteral("linkStatistics"));
    stats_->setHorizontalHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Requests"), QStringLiteral("Replies"),
         QStringLiteral("No replies"), QStringLiteral("Bad CRC"), QStringLiteral("Wrong length"),
         QStringLiteral("Exceptions"), QStringLiteral("Port losses"), QStringLiteral("Mean latency (ms)"),
         QStringLiteral("Max latency (ms)")});
    stats_->verticalHeader()->setVisible(false);
    stats_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return stats_;
}

void CTrafficDlg::Refresh() {
    RefreshStatistics();
    if (pause_->isChecked()) return;
    const std::vector<FrameRecord> fresh = monitor_.FramesAfter(seen_);
    if (!fresh.empty()) {
        // Follow the newest frame only when the user has not scrolled up to read.
        QScrollBar* v = frames_->verticalScrollBar();
        const bool atEnd = v->value() == v->maximum();
        model_->Append(fresh);
        seen_ = fresh.back().seq;
        std::set<int> known;
        for (int i = 1; i < filter_->count(); ++i) known.insert(filter_->itemData(i).toInt());
        for (const FrameRecord& f : fresh) {
            if (known.insert(f.address).second) {
                int at = 1;
                while (at < filter_->count() && filter_->itemData(at).toInt() < f.address) ++at;
                filter_->insertItem(at, QStringLiteral("Address %1").arg(f.address), f.address);
            }
        }
        if (atEnd) frames_->scrollToBottom();
    }
    count_->setText(QStringLiteral("%1 frames shown (the last %2 are kept)")
                        .arg(model_->rowCount())
                        .arg(static_cast<qulonglong>(LinkMonitor::kFrames)));
}

void CTrafficDlg::RefreshStatistics() {
    const LinkStatistics stats = monitor_.Statistics();
    stats_->setRowCount(static_cast<int>(stats.size()));
    int row = 0;
    for (const auto& [address, s] : stats) {
        const QString cells[] = {QString::number(address),
                                 QString::number(s.requests),
                                 QString::number(s.replies),
                                 QString::number(s.noReplies),
                                 QString::number(s.badCrc),
                                 QString::number(s.wrongLength),
                                 QString::number(s.exceptions),
                                 QString::number(s.portLosses),
                                 QString::number(s.MeanLatencyMs(), 'f', 1),
                                 QString::number(s.latencyMaxMs, 'f', 1)};
        for (int c = 0; c < 10; ++c) {
            QTableWidgetItem* item = stats_->item(row, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                stats_->setItem(row, c, item);
            }
            if (item->text() != cells[c]) item->setText(cells[c]);
        }
        ++row;
    }
}

bool CTrafficDlg::SaveFrames(const QString& path) {
    std::ofstream file(path.toStdString(), std::ios::out | std::ios::trunc | std::ios::binary);
    if (file) {
        file << FrameLineHeader() << "\n";
        for (const std::string& line : model_->ShownLines()) file << line << "\n";
        file.close();
    }
    if (file) return true;
    const int error = errno;
    sink_.Show("Cannot write " + path.toStdString() + ": " + std::strerror(error), Caption().toStdString(),
               MsgIcon::Stop, MsgButtons::Ok);
    return false;
}

void CTrafficDlg::OnSave() {
    const QString path = chooser_ ? chooser_() : QString();
    if (!path.isEmpty()) SaveFrames(path);
}

void CTrafficDlg::OnClear() {
    monitor_.Clear();
    model_->Clear();
    seen_ = monitor_.LastSeq();
    Refresh();
}
