#include "update/UpdateBatch.h"

#include <algorithm>

void UpdateBatch::SetFound(const std::vector<int>& addresses) {
    found_.assign(addresses.begin(),
                  addresses.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                          addresses.size(), static_cast<std::size_t>(kModuleRows))));
    for (int r = 1; r <= kModuleRows; ++r)
        SetState(r, r <= FoundCount() ? ModuleState::Waiting : ModuleState::Blank);
}

int UpdateBatch::FoundAddress(int row) const {
    return row >= 1 && row <= FoundCount() ? found_[static_cast<std::size_t>(row - 1)] : 0;
}

std::vector<UpdateBatch::Row> UpdateBatch::Queue(const std::vector<bool>& selected) {
    std::vector<Row> rows;
    bool any = false;
    for (int r = 1; r <= FoundCount(); ++r) {
        const bool on =
            static_cast<std::size_t>(r - 1) < selected.size() && selected[static_cast<std::size_t>(r - 1)];
        rows.push_back({r, FoundAddress(r), on});
        if (on) {
            SetState(r, ModuleState::Queued);
            any = true;
        }
    }
    if (!any) rows.clear();
    return rows;
}

ModuleState UpdateBatch::State(int row) const {
    return row >= 0 && row <= kModuleRows ? states_[static_cast<std::size_t>(row)].load()
                                          : ModuleState::Blank;
}

void UpdateBatch::SetState(int row, ModuleState state) {
    if (row >= 0 && row <= kModuleRows) states_[static_cast<std::size_t>(row)] = state;
}

void UpdateBatch::Run(const std::vector<Row>& rows, UpdateSequences& sequences, const std::string& imagePath,
                      UpdateLog& log) {
    for (const Row& r : rows) {
        currentRow_ = r.row;
        busy_ = true;
        sequences.Progress() = 0;
        if (!r.selected) continue;
        const auto state =
            sequences.SequenceA(r.address, imagePath, log, [&](ModuleState s) { SetState(r.row, s); });
        // A queued row never keeps "等待中" once the batch has passed it: it says why not.
        if (!state)
            SetState(r.row,
                     sequences.PortOpen() ? ModuleState::NotUpdatedNoAnswer : ModuleState::NotUpdatedPaused);
    }
    busy_ = false;
}
