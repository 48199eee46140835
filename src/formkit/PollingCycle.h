#pragma once
// A polling form's rules without widgets: its cells, its session and its ticks. The Qt
// polling base (CPollingForm) runs Open at the form's initial update, then Tick on its
// timer, and paints the changed cells; kvt40ctl runs the same calls on the same clock.
//
// Timer disciplines:
//   StopTickRestart  the timer is stopped for the tick and restarted only when the tick's
//                    reply passed; a failed tick leaves the cycle stopped (and the form
//                    says so) until the user restarts it.
//   KeepRunning      the timer runs on whatever a tick finds; a miss is by design (a tick
//                    that finds only an echo, or nothing after a one-shot request).
//
// A request is never left on its way when something else is to talk next: a run that ends
// (kvt40ctl) makes its last tick a LastTick, and a form that hands the link to another
// cycle (a tab switch) calls Settle first.

#include "formkit/CellTable.h"
#include "link/ModbusSession.h"

class PollingCycle {
public:
    enum class Discipline { StopTickRestart, KeepRunning };

    PollingCycle(LinkState& link, Clock& clock) : session_(link, clock) {}
    virtual ~PollingCycle() = default;
    PollingCycle(const PollingCycle&) = delete;
    PollingCycle& operator=(const PollingCycle&) = delete;

    // The form's opening exchange and fixed texts; true when the timer is to start.
    virtual bool Open() = 0;
    // One timer tick; false when a reply the tick judges failed its check.
    virtual bool Tick() = 0;
    // The tick that ends a run: takes and judges its reply as Tick does, but sends no next
    // request, so no reply is left for whoever talks on the bus next.
    bool LastTick() {
        lastTick_ = true;
        const bool ok = Tick();
        lastTick_ = false;
        return ok;
    }
    // Waits out the reply to this cycle's request still in flight (at most one poll period
    // after it went out) and drops it; returns at once when none is.
    void Settle() { session_.DropInFlight(PollMs()); }
    virtual int PollMs() const = 0;
    virtual Discipline TimerDiscipline() const { return Discipline::StopTickRestart; }

    CellTable& Cells() { return cells_; }
    const CellTable& Cells() const { return cells_; }
    ModbusSession& Session() { return session_; }
    const ModbusSession& Session() const { return session_; }

protected:
    // False inside LastTick: the tick sends nothing after its reply.
    bool SendsNext() const { return !lastTick_; }

    ModbusSession session_;
    CellTable cells_;

private:
    bool lastTick_ = false;
};
