#pragma once
// A serial device behind CCommPort: a POSIX tty or pseudo-terminal (SerialPort.cpp), or a
// Windows COM port (SerialPortWin32.cpp); the build picks one. The contract is the same.
//
// Ownership: the port owns its descriptor and closes it in Close and in the destructor.
// Threads: as CCommPort says. Open, LastOpenError, OpenFailureText, Name and CharTimeMs
// belong to the user-interface thread and may wait for a Read or Write in progress. Read and Write hold the
// descriptor lock for the whole call, so no closed or reused descriptor is ever touched; Close announces
// itself first (a counter and a wake-up pipe) and a waiting Read or Write gives up within a poll wake-up,
// returning 0. On Windows Close cancels the driver call in progress instead, and a Read waits in the driver
// for at most 3 character times at a go, so it gives up as soon even where the driver ignores the cancel.
// IsOpen reads an atomic and never waits.
//
// A lost device (a hang-up, EIO or ENXIO on POSIX; a failed ReadFile, WriteFile or
// ClearCommError on Windows) closes the port from inside the Read or Write that met it; the
// call returns 0 and LostReason keeps the system's words until the next successful Open.
// Close restores the line settings the port found when it opened the device.

#include <atomic>
#include <mutex>
#include <string>

#if !defined(_WIN32)
#include <termios.h>
#endif

#include "link/CommPort.h"

class CSerialPort final : public CCommPort {
public:
    CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    ~CSerialPort() override;

    // Opens `name` exclusively in raw mode (a serial device by TIOCEXCL and flock, a
    // pseudo-terminal by flock alone, which dies with its process), or reconfigures it when
    // it is the name already open. baud in bits per second (> 0), dataBits 4..8,
    // parity 0 none / 1 odd / 2 even, stopBits 0 one / 1 one and a half / 2 two.
    // Another name is opened first and the old port closed only after; if the new one
    // fails, false is returned and the old one stays open. On Windows a name is a COM port
    // ("COM12"), opened as \\.\COM12 so that every number works, with no sharing.
    bool Open(const std::string& name, int baud, int dataBits, int parity, int stopBits);

    // Why the last Open failed; None after one that succeeded (and before the first).
    enum class OpenError { None, NoSuchFile, NotSerial, InUse, PermissionDenied, Other };
    OpenError LastOpenError() const;
    // The same for the user, as the command-line tool prints it under "Cannot open<name>!":
    // a fixed text for each reason, the system's own words for Other, empty for None.
    std::string OpenFailureText() const;

    void Close() override;
    bool IsOpen() const override;
    int Write(std::span<const std::uint8_t> data) override;
    // Returns 0 at once when nothing waits. Otherwise reads until buf is full, the line has
    // been silent for 3 character times after a byte, or buf.size() character times have
    // passed since the call; a Read that gets less than asked so ends one gap after its
    // last byte.
    int Read(std::span<std::uint8_t> buf) override;
    std::string LostReason() const override;

    // The name last opened, whole (no length limit); empty while closed.
    std::string Name() const;
    // One character time in ms as the read time-outs use it: 10000 / baud + 1.
    int CharTimeMs() const;

private:
    // The fixed text of a reason, both systems alike; nullptr for Other (the system's words).
    static const char* ReasonText(OpenError error);
    bool Closing() const { return closers_ > 0; }
    void CloseLocked();
    bool Fail(OpenError error, int sysError);
    // The device vanished: keep why and let go of it (the caller holds the lock).
    void LoseLocked(const std::string& reason);

    std::string name_;
    int charMs_ = 2;
    OpenError openError_ = OpenError::None;
    std::atomic<bool> open_{false};  // a device is held, mirrored for IsOpen without the lock
    std::atomic<int> closers_{0};    // Close calls waiting for or holding the lock
    mutable std::mutex lostMutex_;   // guards lostReason_ alone, so reading it never waits for a Read
    std::string lostReason_;
#if defined(_WIN32)
    // Windows: Close cancels the driver call in progress and retries until the lock is free.
    mutable std::timed_mutex mutex_;
    std::atomic<void*> handle_{nullptr};   // the HANDLE; nullptr while closed
    unsigned long openSysError_ = 0;       // GetLastError behind OpenError::Other
    bool savedValid_ = false;              // the device's settings before Open changed them
    unsigned char savedDcb_[128] = {};     // a DCB, kept opaque so this header needs no windows.h
    unsigned long savedTimeouts_[5] = {};  // a COMMTIMEOUTS
#else
    enum class Wait { Ready, TimedOut, Again, Closing, Failed, HungUp };
    // Polls the descriptor and the wake-up pipe; the caller holds the lock.
    Wait WaitLocked(short events, int ms) const;
    // After a hang-up or an I/O error: the system's words for it (read once more for errno).
    std::string HangUpReasonLocked() const;

    mutable std::mutex mutex_;
    int fd_ = -1;
    bool exclusiveFlag_ = false;  // TIOCEXCL set on fd_, to be cleared before it closes
    int openErrno_ = 0;           // behind OpenError::Other
    int wake_[2] = {-1, -1};      // written by Close to cut a waiting poll short
    bool savedValid_ = false;     // saved_ holds the settings the device had before Open
    termios saved_{};
#endif
};
