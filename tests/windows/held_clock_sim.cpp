// The virtual module's bus served on a pseudo-terminal as kvt40-sim serves it, with the
// module's clock held at one instant: every run reads the same values, so the output of
// kvt40ctl on two systems can be compared byte for byte. Replies still come after the
// module's real turnaround.
//
//     held_clock_sim [--address N]...    prints the pty path, serves until SIGTERM
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "sim/PtyBusServer.h"
#include "sim/VirtualBus.h"

namespace {

// Real waits, a fixed now: ten minutes into the module's life, with energies counted up.
class HeldClock final : public Clock {
public:
    void sleep(int ms) override { real_.sleep(ms); }
    void sleepFor(Micros d) override { real_.sleepFor(d); }
    Micros now() const override { return Micros(std::int64_t{600} * 1000 * 1000); }

private:
    RealClock real_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> addresses;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--address") != 0) return 2;
        addresses.push_back(std::atoi(argv[i + 1]));
    }
    if (addresses.empty()) addresses.push_back(1);

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    HeldClock clock;
    VirtualBus bus(clock);
    for (int a : addresses) bus.AddModule(a);
    PtyBusServer server(bus);
    if (!server.Start()) {
        std::perror("held_clock_sim: cannot open a pseudo-terminal");
        return 1;
    }
    std::printf("%s\n", server.SlavePath().c_str());
    std::fflush(stdout);
    int sig = 0;
    while (sigwait(&stop, &sig) != 0) {
    }
    server.Stop();
    return 0;
}
