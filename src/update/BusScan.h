#pragma once
// The update form's bus scan: one address per timer tick, a module found when its
// register 500 answers its own address. Each tick reads the reply to the request the tick
// before sent (or the start), then sends the request for the next address.
//
//     BusScan scan(link, clock);
//     if (scan.Start(1, 247) == BusScan::StartResult::Started)
//         while (!scan.OnTick().finished) { /* the form's timer, every scan.PeriodMs() */ }
//     for (int a : scan.Found()) ...
//
// Thread contract: the user-interface thread (or kvt40ctl's main thread) only.

#include <functional>
#include <vector>

#include "link/Clock.h"
#include "link/LinkState.h"

class BusScan {
public:
    static constexpr int kMinAddress = 1;
    static constexpr int kMaxAddress = 247;
    static constexpr int kAddressRegister = 500;
    static constexpr int kRequestWaitMs = 200;  // after each request
    static constexpr int kReplyWaitMs = 200;    // after each read of a reply
    static constexpr std::size_t kReplyBytes = 50;

    enum class StartResult { Started, NotConnected, OutOfRange };
    struct TickResult {
        bool valid = false;     // a good function-03 reply came
        bool found = false;     // ...from the module at the address asked
        bool finished = false;  // the end address was queried; the scan stopped
        bool portGone = false;  // the port closed or was lost under the scan; it stopped short
    };

    BusScan(LinkState& link, Clock& clock) : link_(link), clock_(clock) {}

    // The timer period at the link's rate: 2400 380 ms, 4800 350, 9600 300, 19200 250, else 200.
    static int PeriodMsFor(int baud);
    // Both ends must be addresses (1..247); a start above the end polls the start alone.
    static bool RangeAllowed(int from, int to) {
        return from >= kMinAddress && from <= kMaxAddress && to >= kMinAddress && to <= kMaxAddress;
    }

    // Checks the port and the range, clears the found list, sends the first request and waits.
    StartResult Start(int from, int to);
    // One timer tick; nothing when not running. A port no longer open ends the scan at once
    // (portGone), without sending on.
    TickResult OnTick();
    // The user's stop: no further request.
    void Stop() { running_ = false; }

    // Runs a started scan to its end as the form's timer would: a tick every PeriodMs(), one
    // that overran the period followed at once. `onTick` hears each tick; `keepGoing` is
    // asked before each (false: stop). Returns true when the end address was reached.
    bool RunToEnd(const std::function<bool()>& keepGoing,
                  const std::function<void(const TickResult&)>& onTick);

    bool Running() const { return running_; }
    int PeriodMs() const { return periodMs_; }
    int From() const { return from_; }
    int To() const { return to_; }
    // The address whose reply the next tick expects.
    int Current() const { return current_; }
    int Queried() const { return queried_; }
    // (current - start) * 100 / (end - start + 1), whole-number division, 0..100.
    int Percent() const;
    const std::vector<int>& Found() const { return found_; }

private:
    bool SendRequest(int address);

    LinkState& link_;
    Clock& clock_;
    bool running_ = false;
    int from_ = kMinAddress;
    int to_ = kMaxAddress;
    int current_ = kMinAddress;
    int queried_ = 0;
    int periodMs_ = 200;
    std::vector<int> found_;
};
