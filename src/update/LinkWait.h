#pragma once
// The waits of the update, through the clock, ended by the pause: the pause closes the
// port, and from then on a wait in progress returns within one slice and every later one
// at once, so a worker never sits out minutes of waits for replies that cannot come.
//
//     LinkWait wait(link, clock);
//     if (!wait.For(5000)) return;  // the port was closed (or never open)
//
// Thread contract: used by the one thread that owns the exchange; the port's IsOpen may
// change under it from any thread.

#include "link/Clock.h"
#include "link/LinkState.h"

class LinkWait {
public:
    // A closed port is noticed this soon inside a long wait.
    static constexpr int kSliceMs = 50;

    LinkWait(const LinkState& link, Clock& clock) : link_(link), clock_(clock) {}

    bool Open() const { return link_.port != nullptr && link_.port->IsOpen(); }
    // Waits ms on the clock; false (early) once the port is closed.
    bool For(int ms);

private:
    const LinkState& link_;
    Clock& clock_;
};
