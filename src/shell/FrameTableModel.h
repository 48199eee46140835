#pragma once
// The frame monitor's rows: the frames the window has taken from the link monitor (at most
// the monitor's own bound), shown all or for one module address, one row per frame.

#include <QAbstractTableModel>
#include <deque>
#include <vector>

#include "link/LinkMonitor.h"

class CFrameTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Dir, Address, Function, What, Size, Crc, Latency, Hex, ColumnCount };

    explicit CFrameTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // New frames, oldest first; the oldest kept go when the bound is passed.
    void Append(const std::vector<FrameRecord>& frames);
    // 0: every address.
    void SetAddressFilter(int address);
    int AddressFilter() const { return filter_; }
    void Clear();
    // The shown frames as lines of text, as kvt40ctl's trace writes them.
    std::vector<std::string> ShownLines() const;

private:
    struct Row {
        FrameRecord frame;
        FrameColumns text;
        bool failed;
    };
    bool Shown(const Row& r) const { return filter_ == 0 || r.frame.address == filter_; }
    void Rebuild();

    std::deque<Row> all_;
    std::deque<const Row*> shown_;  // into all_, whose deque keeps addresses on push and pop at the ends
    int filter_ = 0;
};
