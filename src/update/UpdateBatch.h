#pragma once
// The batch update of the modules a scan found: the rows' states, the current row and the
// busy flag that the form's progress timer reads, and the worker's loop (sequence A for each
// selected row, one after the other).
//
//     UpdateBatch batch;
//     batch.SetFound(scan.Found());                     // rows 1..n say "等待"
//     auto rows = batch.Queue({false, true, true});     // rows 1..n, "等待中" for the selected
//     batch.Begin();
//     std::thread worker([&] { batch.Run(rows, seq, path, run.updateLog); });
//     ... batch.State(2), batch.CurrentRow(), batch.Busy() from the user-interface thread ...
//
// Thread contract: SetFound and Queue belong to the user-interface thread while no batch
// runs; Run runs on the one worker; State, CurrentRow and Busy are atomics readable anywhere.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "link/UpdateLog.h"
#include "update/ModuleState.h"
#include "update/UpdateSequences.h"

class UpdateBatch {
public:
    static constexpr int kModuleRows = 247;

    struct Row {
        int row;
        int address;
        bool selected;
    };

    // The scan's modules in rows 1..n (at most 247), each "等待"; the rows below blank.
    void SetFound(const std::vector<int>& addresses);
    int FoundCount() const { return static_cast<int>(found_.size()); }
    // The address of row 1..n; 0 for any other row.
    int FoundAddress(int row) const;

    // The rows of the batch with their selection (selected[r - 1] for row r); the selected
    // ones say "等待中". Empty when none is selected.
    std::vector<Row> Queue(const std::vector<bool>& selected);

    ModuleState State(int row) const;
    void SetState(int row, ModuleState state);
    int CurrentRow() const { return currentRow_; }
    bool Busy() const { return busy_; }

    // Busy from the moment the batch is started, before its worker has run a line.
    void Begin() { busy_ = true; }
    // Sequence A for each selected row in order; its states go into the rows, and a row the
    // sequence left untouched says why (paused, or no bootloader answer). Busy ends false.
    void Run(const std::vector<Row>& rows, UpdateSequences& sequences, const std::string& imagePath,
             UpdateLog& log);

private:
    std::vector<int> found_;
    std::array<std::atomic<ModuleState>, kModuleRows + 1> states_{};
    std::atomic<int> currentRow_{0};
    std::atomic<bool> busy_{false};
};
