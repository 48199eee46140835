#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "link/SerialPort.h"
#include "support/Pty.h"

namespace {

// The pause closes the port from the user-interface thread while the update worker is
// inside Read or Write: no closed descriptor may be touched, and the worker sees 0 after.
TEST(SerialPortThreads, CloseUnderAWorkerInReadAndWrite) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 19200, 8, 0, 0));
    std::atomic<bool> closed{false};
    std::atomic<int> afterClose{0};
    std::atomic<int> nonzeroAfterClose{0};
    std::atomic<int> calls{0};

    std::thread worker([&] {
        std::array<std::uint8_t, 64> buf{};
        const std::array<std::uint8_t, 8> req{1, 3, 0, 0, 0, 10, 0xC5, 0xCD};
        while (afterClose.load() < 200) {
            const bool wasClosed = closed.load();
            const int w = port.Write(req);
            const int r = port.Read(buf);
            calls.fetch_add(1);
            if (wasClosed) {
                afterClose.fetch_add(1);
                if (w != 0 || r != 0) nonzeroAfterClose.fetch_add(1);
            }
        }
    });
    std::thread feeder([&] {
        while (!closed.load()) {
            pty.Send({0x01, 0x03, 0x02, 0x00, 0x01});
            pty.Receive(1, 1);
        }
    });
    while (calls.load() < 50) std::this_thread::yield();
    port.Close();
    closed.store(true);
    worker.join();
    feeder.join();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(nonzeroAfterClose.load(), 0);
}

}  // namespace
