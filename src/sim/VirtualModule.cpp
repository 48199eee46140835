#include "sim/VirtualModule.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "link/ModbusRtu.h"
#include "sim/Bootloader.h"

namespace {

using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

constexpr int kMapSize = 9564;  // highest mapped register is 9563
constexpr std::array<int, 3> kBauds{4800, 9600, 19200};

double Seconds(Clock::Micros now) {
    return static_cast<double>(now.count()) / 1e6;
}

uint16_t Lo16(std::int64_t v) {
    return static_cast<uint16_t>(static_cast<std::uint64_t>(v) & 0xFFFFu);
}
uint16_t Hi16(std::int64_t v) {
    return static_cast<uint16_t>((static_cast<std::uint64_t>(v) >> 16) & 0xFFFFu);
}
uint16_t Clamp16(double v) {
    return static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
}
std::int16_t ClampS16(double v) {
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

void PutCrc(std::vector<uint8_t>& f) {
    const uint16_t crc = Crc16Modbus(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
}

int Word(std::span<const uint8_t> f, std::size_t at) {
    return f[at] * 256 + f[at + 1];
}

// Outlets that show every sign case: idle ones, one exporting, one capacitive.
bool IsIdle(int i) {
    return i == 5 || i == 13 || i == 26;
}

// Outlet 30 starts a motor for 6 s of every 40 s, drawing more than the default 63 A
// limit, so its current alarm comes and goes by itself.
constexpr int kSurgeOutlet = 30;
constexpr std::int64_t kSurgePeriodS = 40;
constexpr std::int64_t kSurgeFromS = 30;
constexpr std::int64_t kSurgeToS = 36;
constexpr int kSurgeMa = 70000;

bool InSurge(int outlet, Clock::Micros now) {
    const std::int64_t s = now.count() / 1000000 % kSurgePeriodS;
    return outlet == kSurgeOutlet && s >= kSurgeFromS && s < kSurgeToS;
}

// Demand follows the load like a thermal demand meter: from zero at a clear (and at the
// clock's start) it rises towards the present load with this time constant.
constexpr double kDemandTauS = 60.0;

}  // namespace

VirtualModule::VirtualModule(int address, int baudIndex)
    : address_(address), baudIndex_(baudIndex), stored_(kMapSize, 0), bench_(address) {
    for (int i = 0; i < kOutlets; ++i) {
        Outlet& o = outlets_[static_cast<std::size_t>(i)];
        if (IsIdle(i)) {
            o.currentMa = 0;
        } else if (i == 2) {
            // Outlet 3's block holds registers 38 and 40 (relay bits, demand multiplier):
            // about 6.8 kVA keeps its apparent-power high word at 1 and its reactive high word at 0.
            o.currentMa = 31000;
            o.cosPhi = 0.97;
        } else {
            o.currentMa = 1000 + (i * 1373) % 9000;
            o.cosPhi = 0.80 + 0.01 * (i % 19);
        }
        o.sinPhi = std::sqrt(1.0 - o.cosPhi * o.cosPhi);
        if (i == 9) o.cosPhi = -o.cosPhi;   // outlet 10 exports
        if (i == 16) o.sinPhi = -o.sinPhi;  // outlet 17 is capacitive
        o.activeBase = static_cast<uint32_t>(1000 + i * 537);
        o.reactiveBase = static_cast<uint32_t>(200 + i * 111);
    }
    maxDemand_.fill(std::numeric_limits<std::int32_t>::min());
    stored_[40] = 1;  // demand multiplier
    stored_[502] = 0;
    stored_[503] = kOutlets;
    stored_[504] = 26400;
    stored_[505] = 17600;
    for (int r = 507; r <= 536; ++r) stored_[static_cast<std::size_t>(r)] = 6300;
    for (int i = 0; i < kOutlets; ++i)
        stored_[static_cast<std::size_t>(376 + i)] = static_cast<uint16_t>(6378 + (i * 7) % 40);
    // Dead zones as the dead-zone write leaves them: rows 8, 9, 10, 1 .. 7 from 1023.
    const std::array<uint16_t, 10> deadZones{50, 50, 50, 100, 100, 100, 10, 10, 10, 30};
    for (std::size_t k = 0; k < deadZones.size(); ++k) stored_[1023 + k] = deadZones[k];
    for (int r = 5000; r <= 5002; ++r) stored_[static_cast<std::size_t>(r)] = 16500;
    stored_[9500] = 104;
    stored_[9501] = 3;
    const char order[] = "SIM-KVT40-01";
    for (std::size_t k = 0; k < 6; ++k)
        stored_[9502 + k] = static_cast<uint16_t>(static_cast<uint8_t>(order[2 * k]) |
                                                  (static_cast<uint8_t>(order[2 * k + 1]) << 8));
    stored_[9563] = 2;
    raw_ = std::make_unique<Bootloader>();
}

int VirtualModule::BaudRate() const {
    return baudIndex_ >= 0 && baudIndex_ < 3 ? kBauds[static_cast<std::size_t>(baudIndex_)] : 9600;
}

std::optional<int> VirtualModule::BaudIndexOf(int baud) {
    for (std::size_t i = 0; i < kBauds.size(); ++i)
        if (kBauds[i] == baud) return static_cast<int>(i);
    return std::nullopt;
}

VirtualModule::Access VirtualModule::AccessOf(int reg) {
    if (reg == 251) return Access::Command;  // demand clear, inside outlet 21's block
    if (reg >= 0 && reg <= 374) return Access::Read;
    if (reg >= 376 && reg <= 405) return Access::Read;
    if (reg == 500 || reg == 501 || reg == 504 || reg == 505) return Access::ReadWrite;
    if (reg == 502 || reg == 503 || reg == 506) return Access::Read;
    if (reg >= 507 && reg <= 536) return Access::ReadWrite;
    if (reg >= 700 && reg <= 715) return Access::Read;
    if (reg >= 800 && reg <= 985) return Access::Read;
    // Coefficients, dead zones and the two-decimal flag: 987 + 13n for every circuit n.
    if (reg >= 987 && reg <= 1390) return Access::ReadWrite;
    if (reg >= 2000 && reg <= 2059) return Access::Read;
    if (reg >= 5000 && reg <= 5002) return Access::ReadWrite;
    if (reg >= 9002 && reg <= 9003) return Access::ReadWrite;
    if (reg >= 9257 && reg <= 9267) return Access::ReadWrite;
    if (reg >= 9500 && reg <= 9507) return Access::Read;
    if (reg == 9563) return Access::Read;
    return Access::None;
}

double VirtualModule::Noise(int key, Clock::Micros now, double amplitude) const {
    // A hash of (module, key, 100 ms slot): deterministic in clock time, varied across modules.
    std::uint64_t x = static_cast<std::uint64_t>(now.count() / 100000) * std::uint64_t{0x9E3779B97F4A7C15u};
    x ^= static_cast<std::uint64_t>(key) * std::uint64_t{0xC2B2AE3D27D4EB4Fu} +
         static_cast<std::uint64_t>(address_) * std::uint64_t{0x165667B19E3779F9u};
    x ^= x >> 31;
    x *= std::uint64_t{0xBF58476D1CE4E5B9u};
    x ^= x >> 29;
    const double unit = static_cast<double>(x % 20001) / 10000.0 - 1.0;  // -1 .. 1
    return unit * amplitude;
}

std::int32_t VirtualModule::PhaseVoltage(int phase, Clock::Micros now) const {
    if (bench_.OnBench())
        return bench_.VoltageCentivolts(phase, stored_[static_cast<std::size_t>(5000 + phase)],
                                        Noise(phase, now, 1.0));
    return static_cast<std::int32_t>(std::lround(21990.0 + 15.0 * phase + Noise(phase, now, 5.0)));
}

std::int32_t VirtualModule::OutletCurrentMa(int outlet, Clock::Micros now) const {
    if (bench_.OnBench()) return bench_.CurrentMa(outlet, Noise(100 + outlet, now, 1.0));
    const Outlet& o = outlets_[static_cast<std::size_t>(outlet - 1)];
    if (o.currentMa == 0) return 0;
    const double nominal = InSurge(outlet, now) ? kSurgeMa : o.currentMa;
    return static_cast<std::int32_t>(std::lround(nominal * (1.0 + Noise(100 + outlet, now, 0.003))));
}

std::int32_t VirtualModule::OutletActivePower(int outlet, Clock::Micros now) const {
    if (bench_.OnBench()) return bench_.ActiveDeciwatts(outlet, Noise(600 + outlet, now, 1.0));
    const Outlet& o = outlets_[static_cast<std::size_t>(outlet - 1)];
    const double va = PhaseVoltage((outlet - 1) % 3, now) / 100.0 * OutletCurrentMa(outlet, now) / 1000.0;
    return static_cast<std::int32_t>(std::lround(va * o.cosPhi * 10.0));
}

std::int32_t VirtualModule::OutletReactivePower(int outlet, Clock::Micros now) const {
    if (bench_.OnBench()) return bench_.ReactiveDecivars(outlet, Noise(700 + outlet, now, 1.0));
    const Outlet& o = outlets_[static_cast<std::size_t>(outlet - 1)];
    const double va = PhaseVoltage((outlet - 1) % 3, now) / 100.0 * OutletCurrentMa(outlet, now) / 1000.0;
    return static_cast<std::int32_t>(std::lround(va * o.sinPhi * 10.0));
}

std::uint32_t VirtualModule::OutletActiveEnergy(int outlet, Clock::Micros now) const {
    const Outlet& o = outlets_[static_cast<std::size_t>(outlet - 1)];
    const double watts = 220.0 * o.currentMa / 1000.0 * std::fabs(o.cosPhi);
    const double hours = std::max(0.0, Seconds(now) - o.energyT0s) / 3600.0;
    return o.activeBase + static_cast<uint32_t>(watts * hours / 100.0);  // 0.1 kWh = 100 Wh
}

std::uint32_t VirtualModule::OutletReactiveEnergy(int outlet, Clock::Micros now) const {
    const Outlet& o = outlets_[static_cast<std::size_t>(outlet - 1)];
    const double vars = 220.0 * o.currentMa / 1000.0 * std::fabs(o.sinPhi);
    const double hours = std::max(0.0, Seconds(now) - o.energyT0s) / 3600.0;
    return o.reactiveBase + static_cast<uint32_t>(vars * hours / 100.0);
}

std::uint16_t VirtualModule::OutletRegister(int outlet, int offset, Clock::Micros now) const {
    switch (offset) {
        case 0:
            return Lo16(OutletCurrentMa(outlet, now));
        case 1:
            return Lo16(OutletActivePower(outlet, now));
        case 2:
            return Hi16(OutletActivePower(outlet, now));
        case 3:
            return Lo16(OutletReactivePower(outlet, now));
        case 4:
            return Hi16(OutletReactivePower(outlet, now));
        case 5:
        case 6: {
            const double p = OutletActivePower(outlet, now);
            const double q = OutletReactivePower(outlet, now);
            const auto s = static_cast<std::int64_t>(std::llround(std::sqrt(p * p + q * q)));
            return offset == 5 ? Lo16(s) : Hi16(s);
        }
        case 7:
            return Lo16(5000 + std::lround(Noise(9, now, 2.0)));  // frequency as the outlet sees it
        case 8:
            return Lo16(OutletActiveEnergy(outlet, now));
        case 9:
            return Hi16(OutletActiveEnergy(outlet, now));
        case 10:
            return Lo16(OutletReactiveEnergy(outlet, now));
        default:
            return Hi16(OutletReactiveEnergy(outlet, now));
    }
}

std::uint16_t VirtualModule::AlarmWord(int index, Clock::Micros now) const {
    uint32_t bits = 0;
    if (index == 0) {
        const int upper = stored_[504];
        const int lower = stored_[505];
        for (int p = 0; p < 3; ++p) {
            const int u = PhaseVoltage(p, now);
            if (upper != 0 && u > upper) bits |= 1u << (5 - p);  // Ua bit 5, Ub 4, Uc 3
            if (lower != 0 && u < lower) bits |= 1u << p;        // Ua bit 0, Ub 1, Uc 2
        }
        return static_cast<uint16_t>(bits);
    }
    if (index == 1 || index == 2) {
        const int first = index == 1 ? 1 : 17;
        const int last = index == 1 ? 16 : 30;
        for (int n = first; n <= last; ++n) {
            const int limit = stored_[static_cast<std::size_t>(506 + n)];  // 0.01 A
            if (limit != 0 && std::abs(OutletCurrentMa(n, now)) > limit * 10) bits |= 1u << (n - first);
        }
        return static_cast<uint16_t>(bits);
    }
    return static_cast<uint16_t>(index == 3 ? (faultBits_ & 0xFFFFu) : ((faultBits_ >> 16) & 0x3FFFu));
}

std::uint16_t VirtualModule::DemandRegister(int offset, Clock::Micros now) {
    // Real-time demand: per-phase mean of the outlets on that phase, swaying over 15 minutes,
    // risen from the last clear.
    const double rise = 1.0 - std::exp(-std::max(0.0, Seconds(now) - demandT0s_) / kDemandTauS);
    const double sway = rise * (1.0 + 0.05 * std::sin(2.0 * std::numbers::pi * Seconds(now) / 900.0));
    std::array<std::int32_t, 8> rt{};
    for (int p = 0; p < 3; ++p) {
        double i = 0;
        double w = 0;
        for (int n = p + 1; n <= kOutlets; n += 3) {
            i += OutletCurrentMa(n, now);
            w += OutletActivePower(n, now);
        }
        rt[static_cast<std::size_t>(p)] = Clamp16(i / 10.0 * sway);
        rt[static_cast<std::size_t>(3 + p)] = ClampS16(w / 10.0 * sway);
    }
    rt[6] = rt[3] + rt[4] + rt[5];
    for (std::size_t k = 0; k < 7; ++k) maxDemand_[k] = std::max(maxDemand_[k], rt[k]);
    const bool maximum = offset >= 8;
    const int k = maximum ? offset - 8 : offset;
    const auto& v = maximum ? maxDemand_ : rt;
    if (k < 6) return Lo16(v[static_cast<std::size_t>(k)]);
    return k == 6 ? Lo16(v[6]) : Hi16(v[6]);
}

std::uint16_t VirtualModule::HarmonicRegister(int reg, Clock::Micros now) const {
    // THD in 0.1 %: voltages A, B, C, then currents A, B, C; every phase its own.
    static constexpr std::array<double, 6> kThd{25.0, 31.0, 38.0, 120.0, 155.0, 190.0};
    if (reg <= 805) {
        const int k = reg - 800;
        return Clamp16(std::round(kThd[static_cast<std::size_t>(k)] + Noise(200 + k, now, 2.0)));
    }
    const int block = (reg - 806) / 30;  // 0..2 voltages A..C, 3..5 currents A..C
    const int phase = block % 3;
    const int order = (reg - 806) % 30 + 2;
    double weight = order % 2 == 1 ? 0.8 : 0.15;  // odd orders dominate
    // Phase B carries a six-pulse rectifier (5th, 7th), phase C single-phase loads (3rd, 9th).
    if (phase == 1) weight *= order == 5 || order == 7 ? 2.0 : (order == 3 ? 0.5 : 1.0);
    if (phase == 2) weight *= order == 3 ? 1.5 : (order == 9 ? 2.5 : (order % 2 == 0 ? 2.0 : 1.0));
    const double v = kThd[static_cast<std::size_t>(block)] * weight * 3.0 / order +
                     (order <= 7 ? Noise(300 + reg, now, 1.0) : 0.0);
    return Clamp16(std::round(v));
}

std::uint16_t VirtualModule::TotalsRegister(int reg, Clock::Micros now) const {
    const int k = reg - 2000;
    const int group = k / 20;  // 0 active power, 1 reactive power, 2 active energy
    const int circuit = (k % 20) / 2 + 1;
    std::int64_t sum = 0;
    for (int n = 3 * circuit - 2; n <= 3 * circuit; ++n) {
        if (group == 0)
            sum += OutletActivePower(n, now);
        else if (group == 1)
            sum += OutletReactivePower(n, now);
        else
            sum += OutletActiveEnergy(n, now);
    }
    return k % 2 == 0 ? Lo16(sum) : Hi16(sum);
}

std::uint16_t VirtualModule::Live(int reg, Clock::Micros now) {
    if (reg <= 2) return Lo16(PhaseVoltage(reg, now));
    if (reg <= 5) {  // line-to-line voltages, 0.1 V
        const double uab =
            (PhaseVoltage(reg - 3, now) + PhaseVoltage((reg - 2) % 3, now)) / 2.0 * std::sqrt(3.0);
        return Clamp16(std::round(uab / 10.0));
    }
    if (reg <= 8) {  // phase currents, 0.01 A
        double sum = 0;
        for (int n = reg - 6 + 1; n <= kOutlets; n += 3) sum += OutletCurrentMa(n, now);
        return Clamp16(std::round(sum / 10.0));
    }
    if (reg == 9) return Lo16(5000 + std::lround(Noise(9, now, 2.0)));
    if (reg == 38) return static_cast<uint16_t>((coils_[0] ? 1 : 0) | (coils_[1] ? 2 : 0));
    if (reg == 40) return stored_[40];
    return OutletRegister((reg - 10) / 12 + 1, (reg - 10) % 12, now);
}

std::optional<std::uint16_t> VirtualModule::ReadRegister(int reg, Clock::Micros now) {
    if (AccessOf(reg) == Access::None) return std::nullopt;
    if (reg <= 369) return Live(reg, now);
    if (reg >= 370 && reg <= 374) return AlarmWord(reg - 370, now);
    if (reg == 500) return static_cast<uint16_t>(address_);
    if (reg == 501) return static_cast<uint16_t>(baudIndex_);
    if (reg >= 700 && reg <= 715) return DemandRegister(reg - 700, now);
    if (reg >= 800 && reg <= 985) return HarmonicRegister(reg, now);
    if (reg >= 2000 && reg <= 2059) return TotalsRegister(reg, now);
    return stored_[static_cast<std::size_t>(reg)];
}

bool VirtualModule::WriteRegister(int reg, std::uint16_t value, Clock::Micros now) {
    const Access a = AccessOf(reg);
    if (a == Access::Command) {
        if (value == 888) ClearDemand(now);
        return true;
    }
    if (a != Access::ReadWrite) return false;
    if (reg == 500) {
        pendingAddress_ = value;
        return true;
    }
    if (reg == 501) {
        pendingBaud_ = value;
        return true;
    }
    stored_[static_cast<std::size_t>(reg)] = value;
    return true;
}

void VirtualModule::ApplyPending() {
    if (pendingAddress_ >= 0) address_ = pendingAddress_;
    if (pendingBaud_ >= 0) baudIndex_ = pendingBaud_;
    pendingAddress_ = pendingBaud_ = -1;
}

bool VirtualModule::SetStored(int reg, std::uint16_t value) {
    if (reg < 0 || reg >= kMapSize || AccessOf(reg) == Access::None) return false;
    if (reg <= 375 || reg == 500 || reg == 501 || (reg >= 700 && reg <= 985) ||
        (reg >= 2000 && reg <= 2059)) {
        if (reg != 40) return false;  // computed, not stored
    }
    stored_[static_cast<std::size_t>(reg)] = value;
    return true;
}

bool VirtualModule::Coil(int coil) const {
    return coil >= 0 && coil < 2 && coils_[static_cast<std::size_t>(coil)];
}

void VirtualModule::SetInputOverride(int input, std::optional<bool> value) {
    if (input >= 0 && input < 2) inputOverride_[static_cast<std::size_t>(input)] = value;
}

bool VirtualModule::Input(int input, Clock::Micros now) const {
    if (input < 0 || input > 1) return false;
    if (inputOverride_[static_cast<std::size_t>(input)])
        return *inputOverride_[static_cast<std::size_t>(input)];
    const std::int64_t period = input == 0 ? 7 : 11;  // seconds between changes
    return (now.count() / 1000000 / period) % 2 == 1;
}

void VirtualModule::SetCircuitFault(int outlet, bool fault) {
    if (outlet < 1 || outlet > kOutlets) return;
    const uint32_t bit = outlet <= 16 ? 1u << (outlet - 1) : 1u << (16 + outlet - 17);
    faultBits_ = fault ? (faultBits_ | bit) : (faultBits_ & ~bit);
}

void VirtualModule::PresetEnergy(int outletIndex, std::uint32_t active, std::uint32_t reactive,
                                 Clock::Micros now) {
    Outlet& o = outlets_[static_cast<std::size_t>(outletIndex)];
    o.activeBase = active;
    o.reactiveBase = reactive;
    o.energyT0s = Seconds(now);
}

void VirtualModule::ClearDemand(Clock::Micros now) {
    demandT0s_ = Seconds(now);
    maxDemand_.fill(std::numeric_limits<std::int32_t>::min());
    (void)DemandRegister(0, now);  // the maximum restarts from the present demand
}

std::vector<std::uint8_t> VirtualModule::Exception(std::uint8_t function, std::uint8_t code) const {
    std::vector<uint8_t> f{static_cast<uint8_t>(address_), static_cast<uint8_t>(0x80 | function), code};
    PutCrc(f);
    return f;
}

std::vector<std::uint8_t> VirtualModule::Handle(std::span<const std::uint8_t> frame, Clock::Micros now) {
    if (frame.size() < 4 || mode_ == Mode::Bootloader) return {};
    const bool broadcast = frame[0] == 0;
    const uint8_t fc = frame[1];
    std::vector<uint8_t> reply{static_cast<uint8_t>(address_), fc};
    auto fail = [&](uint8_t code) { return broadcast ? std::vector<uint8_t>{} : Exception(fc, code); };

    switch (fc) {
        case 0x01:
        case 0x02: {
            if (frame.size() < 8) return fail(0x03);
            const int start = Word(frame, 2);
            const int count = Word(frame, 4);
            if (count < 1 || count > 2000) return fail(0x03);
            if (start + count > 2) return fail(0x02);
            uint8_t bits = 0;
            for (int k = 0; k < count; ++k) {
                const bool on = fc == 0x01 ? Coil(start + k) : Input(start + k, now);
                if (on) bits = static_cast<uint8_t>(bits | (1u << k));
            }
            reply.push_back(1);
            reply.push_back(bits);
            break;
        }
        case 0x03: {
            if (frame.size() < 8) return fail(0x03);
            const int start = Word(frame, 2);
            const int count = Word(frame, 4);
            if (count < 1 || count > 125) return fail(0x03);
            for (int r = start; r < start + count; ++r)
                if (AccessOf(r) == Access::None) return fail(0x02);
            reply.push_back(static_cast<uint8_t>(2 * count));
            for (int r = start; r < start + count; ++r) {
                const uint16_t v = *ReadRegister(r, now);
                reply.push_back(static_cast<uint8_t>(v >> 8));
                reply.push_back(static_cast<uint8_t>(v & 0xFF));
            }
            break;
        }
        case 0x05: {
            if (frame.size() < 8) return fail(0x03);
            const int coil = Word(frame, 2);
            const int value = Word(frame, 4);
            if (value != 0xFF00 && value != 0x0000) return fail(0x03);
            if (coil > 1) return fail(0x02);
            coils_[static_cast<std::size_t>(coil)] = value == 0xFF00;
            reply.assign(frame.begin(), frame.begin() + 6);
            reply[0] = static_cast<uint8_t>(address_);
            break;
        }
        case 0x10: {
            if (frame.size() < 9) return fail(0x03);
            const int start = Word(frame, 2);
            const int count = Word(frame, 4);
            if (count < 1 || count > 123 || frame[6] != 2 * count ||
                frame.size() < 9u + 2u * static_cast<unsigned>(count))
                return fail(0x03);
            for (int r = start; r < start + count; ++r) {
                const Access a = AccessOf(r);
                if (a == Access::None || a == Access::Read || (a == Access::Command && count != 1))
                    return fail(0x02);
            }
            std::vector<uint16_t> v(static_cast<std::size_t>(count));
            for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<uint16_t>(Word(frame, 7 + 2 * k));
            auto valueAt = [&](int reg) -> std::optional<uint16_t> {
                if (reg < start || reg >= start + count) return std::nullopt;
                return v[static_cast<std::size_t>(reg - start)];
            };
            if (auto a = valueAt(500); a && (*a < 1 || *a > 247)) return fail(0x03);
            if (auto b = valueAt(501); b && *b > 2) return fail(0x03);
            const bool preset = start == 9258 && count >= 6 && v[0] == 999;
            if (preset && v[1] >= kOutlets) return fail(0x03);
            const bool calibration = start == 9257 && count == 11 && v[0] == 999;
            if (calibration && v[1] >= kOutlets) return fail(0x03);
            // The dead-zone command: 32, then the ten values, which land at 1023..1032.
            const bool deadZones = start == 1023 && count == 11 && v[0] == 32;
            if (deadZones) {
                for (std::size_t k = 1; k < v.size(); ++k)
                    WriteRegister(1023 + static_cast<int>(k) - 1, v[k], now);
            } else {
                for (int r = start; r < start + count; ++r)
                    WriteRegister(r, v[static_cast<std::size_t>(r - start)], now);
            }
            if (preset)
                PresetEnergy(v[1], v[2] | (static_cast<uint32_t>(v[3]) << 16),
                             v[4] | (static_cast<uint32_t>(v[5]) << 16), now);
            if (start == 9257 && v[0] == 999) {
                for (std::size_t k = 0; k < calibration_.size(); ++k) calibration_[k] = stored_[9257 + k];
                ++calibrationWrites_;
                if (calibration) bench_.ApplyBlock(calibration_);
            }
            reply.assign(frame.begin(), frame.begin() + 6);
            reply[0] = static_cast<uint8_t>(address_);
            break;
        }
        default:
            return fail(0x01);
    }

    // The reply is built with the old settings; from here on the module is at the new ones.
    ApplyPending();
    if (broadcast) return {};
    PutCrc(reply);
    return reply;
}
