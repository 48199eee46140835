#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "link/SerialPort.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using OpenError = CSerialPort::OpenError;

HANDLE AsHandle(void* h) {
    return static_cast<HANDLE>(h);
}

// CreateFile finds COM1..COM9 by their plain names only; the device namespace reaches them all.
std::string DevicePath(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

OpenError ErrorOfOpen(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return OpenError::NoSuchFile;
        // A COM port held by another program answers "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return OpenError::InUse;
        default:
            return OpenError::Other;
    }
}

// The driver's other settings are kept, except what would alter bytes of a binary protocol:
// flow control, XON/XOFF, error and null-byte replacement, and aborting on a line error.
// Line settings the driver rejects are not detected here: the first exchange fails instead.
void Configure(HANDLE h, int baud, int dataBits, int parity, int stopBits) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = static_cast<BYTE>(std::clamp(dataBits, 4, 8));
    // 0/1/2 are NOPARITY/ODDPARITY/EVENPARITY and ONESTOPBIT/ONE5STOPBITS/TWOSTOPBITS.
    dcb.Parity = static_cast<BYTE>(std::clamp(parity, 0, 2));
    dcb.StopBits = static_cast<BYTE>(std::clamp(stopBits, 0, 2));
    dcb.fBinary = TRUE;
    dcb.fParity = parity != 0 ? TRUE : FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    (void)SetCommState(h, &dcb);
}

void ClearErrors(HANDLE h) {
    DWORD errors = 0;
    (void)ClearCommError(h, &errors, nullptr);
}

// Bytes in the driver's input queue (clearing the error state, as reading it does); false
// when the driver no longer answers (the device is gone).
bool Waiting(HANDLE h, DWORD& waiting) {
    DWORD errors = 0;
    COMSTAT stat{};
    waiting = 0;
    if (!ClearCommError(h, &errors, &stat)) return false;
    waiting = stat.cbInQue;
    return true;
}

// The system's sentence for an error code, without its full stop and line end.
std::string SystemWords(DWORD e) {
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0,
                                   text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "system error " + std::to_string(e) : s;
}

constexpr DWORD kPurgeAll = PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR;

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::Open(const std::string& name, int baud, int dataBits, int parity, int stopBits) {
    const std::lock_guard lock(mutex_);
    if (name.empty()) return Fail(OpenError::NoSuchFile, ERROR_FILE_NOT_FOUND);
    if (baud <= 0)
        return Fail(OpenError::Other, ERROR_INVALID_PARAMETER);  // the character time divides by it
    if (handle_ == nullptr || name != name_) {
        const HANDLE h = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            return Fail(ErrorOfOpen(e), static_cast<int>(e));  // the old port, if any, stays open
        }
        // NUL, a file or a pipe opens too; only a communications device has a line state.
        DCB probe{};
        probe.DCBlength = sizeof probe;
        if (!GetCommState(h, &probe)) {
            CloseHandle(h);
            return Fail(OpenError::NotSerial, 0);
        }
        CloseLocked();
        handle_ = h;
        name_ = name;
        // What the device was set to before us, given back when it closes.
        static_assert(sizeof(DCB) <= sizeof savedDcb_ && sizeof(COMMTIMEOUTS) <= sizeof savedTimeouts_);
        COMMTIMEOUTS before{};
        savedValid_ = GetCommTimeouts(h, &before) != 0;
        std::memcpy(savedDcb_, &probe, sizeof probe);
        std::memcpy(savedTimeouts_, &before, sizeof before);
        open_ = true;
    }
    {
        const std::lock_guard lost(lostMutex_);
        lostReason_.clear();
    }
    const HANDLE h = AsHandle(handle_);
    Configure(h, baud, dataBits, parity, stopBits);
    charMs_ = 10000 / baud + 1;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = static_cast<DWORD>(3 * charMs_);
    timeouts.ReadTotalTimeoutMultiplier = static_cast<DWORD>(charMs_);
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;  // no write time-out
    timeouts.WriteTotalTimeoutConstant = 0;
    (void)SetCommTimeouts(h, &timeouts);
    (void)SetupComm(h, 1024, 1024);
    (void)PurgeComm(h, kPurgeAll);
    openError_ = OpenError::None;
    openSysError_ = 0;
    return true;
}

bool CSerialPort::Fail(OpenError error, int sysError) {
    openError_ = error;
    openSysError_ = static_cast<unsigned long>(sysError);
    return false;
}

CSerialPort::OpenError CSerialPort::LastOpenError() const {
    const std::lock_guard lock(mutex_);
    return openError_;
}

std::string CSerialPort::OpenFailureText() const {
    const std::lock_guard lock(mutex_);
    if (const char* fixed = ReasonText(openError_)) return fixed;
    // The system's sentences end in a full stop and CR LF; the line printed under them has neither.
    return SystemWords(static_cast<DWORD>(openSysError_));
}

void CSerialPort::Close() {
    // Announce first; then, while a Read or Write holds the lock, cancel its driver call so
    // that this thread (often the user interface) is not kept until the transfer ends.
    ++closers_;
    while (!mutex_.try_lock_for(std::chrono::milliseconds(2))) {
        if (void* h = handle_.load()) (void)CancelIoEx(AsHandle(h), nullptr);
    }
    {
        const std::lock_guard lock(mutex_, std::adopt_lock);
        CloseLocked();
    }
    --closers_;
}

void CSerialPort::CloseLocked() {
    if (void* h = handle_.exchange(nullptr)) {
        (void)PurgeComm(AsHandle(h), kPurgeAll);
        if (savedValid_) {
            DCB dcb{};
            COMMTIMEOUTS timeouts{};
            std::memcpy(&dcb, savedDcb_, sizeof dcb);
            std::memcpy(&timeouts, savedTimeouts_, sizeof timeouts);
            (void)SetCommState(AsHandle(h), &dcb);
            (void)SetCommTimeouts(AsHandle(h), &timeouts);
        }
        CloseHandle(AsHandle(h));
    }
    savedValid_ = false;
    name_.clear();
    open_ = false;
}

bool CSerialPort::IsOpen() const {
    return open_;
}

std::string CSerialPort::LostReason() const {
    const std::lock_guard lost(lostMutex_);
    return lostReason_;
}

void CSerialPort::LoseLocked(const std::string& reason) {
    {
        const std::lock_guard lost(lostMutex_);
        lostReason_ = reason;
    }
    CloseLocked();
}

int CSerialPort::Write(std::span<const std::uint8_t> data) {
    if (Closing()) return 0;  // leave the lock to the Close that waits for it
    const std::lock_guard lock(mutex_);
    const HANDLE h = AsHandle(handle_);
    if (h == nullptr || Closing()) return 0;
    if (data.size() > std::numeric_limits<DWORD>::max()) return 0;
    (void)PurgeComm(h, kPurgeAll);  // an unread reply to an earlier request goes here
    DWORD written = 0;
    if (!WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        const DWORD e = GetLastError();
        // A call cut short by Close is no loss; any other failure means the device is gone.
        if (Closing())
            ClearErrors(h);
        else
            LoseLocked(SystemWords(e));
        return 0;
    }
    return static_cast<int>(written);
}

// The driver's time-outs (3c between bytes, c per byte asked) bound every ReadFile. Bytes that
// wait are taken at once; with none waiting, a ReadFile of three bytes has 3c in all, so one
// that brings nothing is the gap that ends the reply. No call waits longer than 3c, which is
// how soon a Close gets in where the driver does not cancel a synchronous read.
int CSerialPort::Read(std::span<std::uint8_t> buf) {
    std::fill(buf.begin(), buf.end(), std::uint8_t{0});
    if (Closing()) return 0;
    const auto start = SteadyClock::now();  // the total bound counts from the call, lock wait included
    const std::lock_guard lock(mutex_);
    const HANDLE h = AsHandle(handle_);
    if (h == nullptr || buf.empty() || Closing()) return 0;
    DWORD waiting = 0;
    if (!Waiting(h, waiting)) {
        LoseLocked(SystemWords(GetLastError()));
        return 0;
    }
    if (waiting == 0) return 0;  // never waits for a first byte

    const auto total = start + std::chrono::milliseconds(charMs_ * static_cast<long long>(buf.size()));
    std::size_t got = 0;
    while (got < buf.size()) {
        if (Closing()) break;  // a cancel between two driver calls finds nothing to cancel
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(total - SteadyClock::now()).count();
        if (left <= 0) break;
        std::size_t want = std::min<std::size_t>(buf.size() - got, waiting);
        // The last wait before the total bound is cut to the time left.
        if (waiting == 0)
            want = std::min(buf.size() - got,
                            static_cast<std::size_t>(std::clamp<long long>(left / charMs_, 1, 3)));
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(want, std::numeric_limits<DWORD>::max()));
        DWORD n = 0;
        const BOOL ok = ReadFile(h, buf.data() + got, ask, &n, nullptr);
        if (!ok) {
            // A failed read is no reply; unless Close cancelled it, the device is gone.
            const DWORD e = GetLastError();
            if (Closing())
                ClearErrors(h);
            else
                LoseLocked(SystemWords(e));
            std::fill(buf.begin(), buf.end(), std::uint8_t{0});
            return 0;
        }
        if (n == 0) break;  // silent for the gap
        got += n;
        if (!Waiting(h, waiting)) {
            LoseLocked(SystemWords(GetLastError()));
            std::fill(buf.begin(), buf.end(), std::uint8_t{0});
            return 0;
        }
    }
    if (Closing()) {
        // A reply cut short by Close is no reply: the caller sees a closed port.
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        return 0;
    }
    return static_cast<int>(got);
}

std::string CSerialPort::Name() const {
    const std::lock_guard lock(mutex_);
    return name_;
}

int CSerialPort::CharTimeMs() const {
    const std::lock_guard lock(mutex_);
    return charMs_;
}
