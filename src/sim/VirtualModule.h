#pragma once
// One simulated KVT40: its whole register map, coils and inputs, live values computed from
// the time it is asked at (so the same clock time always gives the same reading), limits,
// alarm bits and the command registers. It answers request frames that are already known
// to be intact and addressed to it; the bus does the CRC, addressing and fault injection.
//
// Usage (tests normally go through VirtualBus, which locks):
//     VirtualModule m(1);
//     std::uint16_t ua = m.ReadRegister(0, clock.now()).value();   // ~22000
//     m.WriteRegister(504, 23000);                                  // voltage upper limit
//
// Not thread-safe on its own: VirtualBus guards every module it owns with its mutex.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/Clock.h"
#include "sim/CalibrationModel.h"
#include "sim/RawHandler.h"

class VirtualModule {
public:
    enum class Access { None, Read, ReadWrite, Command };
    // In its bootloader a module answers no Modbus request; its raw handler talks instead.
    enum class Mode { Application, Bootloader };

    static constexpr int kOutlets = 30;
    static constexpr int kTurnaroundMs = 5;

    // baudIndex as register 501 holds it: 0 = 4800, 1 = 9600, 2 = 19200.
    explicit VirtualModule(int address = 1, int baudIndex = 1);

    int Address() const { return address_; }
    int BaudIndex() const { return baudIndex_; }
    // 4800, 9600 or 19200 from the baud index.
    int BaudRate() const;
    // The index of a rate the module can run at; nullopt for any other rate.
    static std::optional<int> BaudIndexOf(int baud);
    Mode CurrentMode() const { return mode_; }
    void SetMode(Mode mode) { mode_ = mode; }
    int TurnaroundMs() const { return turnaroundMs_; }
    void SetTurnaroundMs(int ms) { turnaroundMs_ = ms; }

    // Answers one intact request frame addressed to this module (or broadcast, address 0).
    // Returns the reply frame with its CRC; empty when no reply is due (broadcast).
    // Address and baud writes take effect after the reply is built, as on the real module.
    std::vector<std::uint8_t> Handle(std::span<const std::uint8_t> frame, Clock::Micros now);

    // Bytes that are not Modbus frames go to this handler: the module's Bootloader by default.
    void SetRawHandler(std::unique_ptr<RawHandler> handler) { raw_ = std::move(handler); }
    RawHandler* Raw() const { return raw_.get(); }

    // How a register is mapped; Access::None answers with the illegal-address exception.
    static Access AccessOf(int reg);
    // The value a read at `now` returns; nullopt for an unmapped register.
    std::optional<std::uint16_t> ReadRegister(int reg, Clock::Micros now);
    // A master's write (no range checks beyond the map); false for an unmapped or
    // read-only register. Command registers act as they do on the wire.
    // An address (500) or baud (501) write waits for ApplyPending, as the real module first
    // sends its echo; Handle applies it itself.
    bool WriteRegister(int reg, std::uint16_t value, Clock::Micros now = Clock::Micros{0});
    void ApplyPending();
    // Overrides a stored register directly (test set-up), including read-only ones that are
    // stored rather than computed (502, 503, 506, versions, presence words). False otherwise.
    bool SetStored(int reg, std::uint16_t value);

    bool Coil(int coil) const;
    void SetInputOverride(int input, std::optional<bool> value);
    bool Input(int input, Clock::Micros now) const;

    // Marks an outlet (1..30) as faulted/excluded: sets its bit in 373/374.
    void SetCircuitFault(int outlet, bool fault);

    // Live outlet quantities at `now` (outlet 1..30), in register units.
    std::int32_t OutletCurrentMa(int outlet, Clock::Micros now) const;
    std::int32_t OutletActivePower(int outlet, Clock::Micros now) const;    // 0.1 W
    std::int32_t OutletReactivePower(int outlet, Clock::Micros now) const;  // 0.1 var
    std::uint32_t OutletActiveEnergy(int outlet, Clock::Micros now) const;  // 0.1 kWh
    std::uint32_t OutletReactiveEnergy(int outlet, Clock::Micros now) const;
    std::int32_t PhaseVoltage(int phase, Clock::Micros now) const;  // 0.01 V

    // The last calibration block written at 9257 (11 words).
    const std::array<std::uint16_t, 11>& CalibrationBlock() const { return calibration_; }
    int CalibrationWrites() const { return calibrationWrites_; }
    // The test bench: standard source, intrinsic errors and calibration state. Off the bench
    // (the start) the readings are the ordinary load above.
    CalibrationModel& Bench() { return bench_; }
    const CalibrationModel& Bench() const { return bench_; }

private:
    struct Outlet {
        std::int32_t currentMa = 0;  // nominal
        double cosPhi = 1.0;
        double sinPhi = 0.0;
        std::uint32_t activeBase = 0;  // energy at energyT0, 0.1 kWh
        std::uint32_t reactiveBase = 0;
        double energyT0s = 0.0;
    };

    std::vector<std::uint8_t> Exception(std::uint8_t function, std::uint8_t code) const;
    std::uint16_t Live(int reg, Clock::Micros now);
    std::uint16_t OutletRegister(int outlet, int offset, Clock::Micros now) const;
    std::uint16_t AlarmWord(int index, Clock::Micros now) const;
    std::uint16_t DemandRegister(int offset, Clock::Micros now);
    std::uint16_t HarmonicRegister(int reg, Clock::Micros now) const;
    std::uint16_t TotalsRegister(int reg, Clock::Micros now) const;
    void PresetEnergy(int outletIndex, std::uint32_t active, std::uint32_t reactive, Clock::Micros now);
    void ClearDemand(Clock::Micros now);
    double Noise(int key, Clock::Micros now, double amplitude) const;

    int address_;
    int baudIndex_ = 1;
    int pendingAddress_ = -1;
    int pendingBaud_ = -1;
    Mode mode_ = Mode::Application;
    int turnaroundMs_ = kTurnaroundMs;
    std::array<Outlet, kOutlets> outlets_{};
    std::array<bool, 2> coils_{};
    std::array<std::optional<bool>, 2> inputOverride_{};
    std::uint32_t faultBits_ = 0;
    std::vector<std::uint16_t> stored_;  // every stored (not computed) register, indexed by address
    std::array<std::uint16_t, 11> calibration_{};
    int calibrationWrites_ = 0;
    CalibrationModel bench_;
    std::array<std::int32_t, 8> maxDemand_{};
    std::unique_ptr<RawHandler> raw_;
    double demandT0s_ = 0.0;  // the last demand clear, in clock seconds
};
