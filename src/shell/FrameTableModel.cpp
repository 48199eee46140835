#include "shell/FrameTableModel.h"

#include <QBrush>
#include <QColor>

#include "link/ModbusSession.h"

namespace {

// A frame that did not go as asked: no reply, a lost port, or a reply the session refused.
bool Failed(const FrameRecord& f) {
    return f.kind == FrameKind::NoReply || f.kind == FrameKind::PortLost ||
           (f.kind == FrameKind::Received && !f.raw && f.verdict != ExchangeFailure::None);
}

}  // namespace

int CFrameTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int CFrameTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CFrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(shown_.size())) return {};
    const Row& r = *shown_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ForegroundRole) return r.failed ? QVariant(QBrush(QColor(192, 0, 0))) : QVariant();
    if (role == Qt::TextAlignmentRole)
        return index.column() == What || index.column() == Hex || index.column() == Dir
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (role == Qt::ToolTipRole && index.column() != Hex) return {};
    const FrameColumns& c = r.text;
    const std::string* cell[] = {&c.time,  &c.dir, &c.address, &c.function, &c.what,
                                 &c.bytes, &c.crc, &c.latency, &c.hex};
    return QString::fromStdString(*cell[index.column()]);
}

QVariant CFrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kHeads[] = {"Time ms", "Dir", "Addr",       "Fn", "Request / reply",
                                         "Bytes",   "CRC", "Latency ms", "Hex"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kHeads[section]) : QVariant();
}

void CFrameTableModel::Append(const std::vector<FrameRecord>& frames) {
    for (const FrameRecord& f : frames) {
        if (all_.size() == LinkMonitor::kFrames) {
            if (!shown_.empty() && shown_.front() == &all_.front()) {
                beginRemoveRows({}, 0, 0);
                shown_.pop_front();
                endRemoveRows();
            }
            all_.pop_front();
        }
        all_.push_back({f, FrameColumnsOf(f), Failed(f)});
        if (Shown(all_.back())) {
            const int row = static_cast<int>(shown_.size());
            beginInsertRows({}, row, row);
            shown_.push_back(&all_.back());
            endInsertRows();
        }
    }
}

void CFrameTableModel::SetAddressFilter(int address) {
    if (address == filter_) return;
    filter_ = address;
    Rebuild();
}

void CFrameTableModel::Clear() {
    beginResetModel();
    all_.clear();
    shown_.clear();
    endResetModel();
}

void CFrameTableModel::Rebuild() {
    beginResetModel();
    shown_.clear();
    for (const Row& r : all_)
        if (Shown(r)) shown_.push_back(&r);
    endResetModel();
}

std::vector<std::string> CFrameTableModel::ShownLines() const {
    std::vector<std::string> lines;
    lines.reserve(shown_.size());
    for (const Row* r : shown_) lines.push_back(FrameLine(r->frame));
    return lines;
}
