#pragma once
// "Communication Traffic" (template 178), non-modal: a snapshot of the update log, and the
// frame monitor: every frame on the link as the link monitor keeps it, filtered by address,
// paused, saved as text, with the counts per address beside it. The live views refresh a
// few times a second from the monitor; nothing in them reaches the link.

#include <QDialog>
#include <QTimer>
#include <functional>

class CFrameTableModel;
class LinkMonitor;
class MessageSink;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class UpdateLog;

class CTrafficDlg : public QDialog {
    Q_OBJECT
public:
    // How often the frame monitor and the counts are brought up to date.
    static constexpr int kRefreshMs = 250;

    CTrafficDlg(const UpdateLog& updateLog, LinkMonitor& monitor, MessageSink& sink,
                QWidget* parent = nullptr);
    QString Text() const { return text_; }
    QPlainTextEdit* Edit() const { return edit_; }
    QTabWidget* Tabs() const { return tabs_; }
    QTableView* FrameView() const { return frames_; }
    CFrameTableModel& FrameModel() const { return *model_; }
    QComboBox* AddressFilter() const { return filter_; }
    QPushButton* PauseButton() const { return pause_; }
    QTableWidget* StatisticsTable() const { return stats_; }
    const QTimer& RefreshTimer() const { return refresh_; }

    // Takes the frames the monitor noted since the last look (none while paused) and the counts.
    void Refresh();
    // The shown frames to `path` as lines of text; false, and the user told why, when it fails.
    bool SaveFrames(const QString& path);
    using FileChooser = std::function<QString()>;
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

private:
    QWidget* BuildFrameView();
    QWidget* BuildStatisticsView();
    void RefreshStatistics();
    void OnSave();
    void OnClear();

    LinkMonitor& monitor_;
    MessageSink& sink_;
    QTabWidget* tabs_;
    QPlainTextEdit* edit_;
    QString text_;
    CFrameTableModel* model_ = nullptr;
    QTableView* frames_ = nullptr;
    QComboBox* filter_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* count_ = nullptr;
    QTableWidget* stats_ = nullptr;
    QTimer refresh_;
    std::uint64_t seen_ = 0;  // the monitor's sequence number of the last frame taken
    FileChooser chooser_;
};
