#pragma once
// The byte channel every caller reaches through the link state. Write purges both
// queues first (an unread reply is discarded) and sends every byte; Read zero-fills
// the buffer and never waits for a first byte, but once one has arrived it collects the
// rest of the reply (how long it waits for that is the implementation's own rule).
//
// Threads: Open and Close belong to the user-interface thread. Read and Write are called
// from the one thread that owns the exchange at the time: the user-interface thread, or an
// update worker while it runs. Close and IsOpen may be called from any thread, also while
// that thread is inside Read or Write (the firmware-update pause): the call in progress
// gives up soon and returns 0, and after Close every call returns 0 until the next Open.
//
// A port whose device vanished under a Read or Write (an adapter pulled, the other end of a
// pseudo-terminal gone) is lost: it lets go of the device, IsOpen turns false and LostReason
// says why in the system's words until the next successful Open.

#include <cstdint>
#include <span>
#include <string>

class CCommPort {
public:
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Returns the bytes written; 0 on failure or while closed.
    virtual int Write(std::span<const std::uint8_t> data) = 0;
    // Returns the bytes received (at most buf.size()); 0 when nothing waits, on failure or while closed.
    virtual int Read(std::span<std::uint8_t> buf) = 0;
    // Why the port was lost; empty while it was not (ports that cannot vanish keep the default).
    virtual std::string LostReason() const { return {}; }
    virtual ~CCommPort() = default;
};
