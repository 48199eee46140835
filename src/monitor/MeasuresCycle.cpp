#include "monitor/MeasuresCycle.h"

#include <cstdio>

namespace {

std::uint8_t gPollStep = 0;  // one per program, survives the forms

constexpr int kReplyBytes = 200;
constexpr int kBlockRegs = 72;
constexpr int kOutletRegs = 12;
constexpr int kOutletsPerBlock = 6;

std::string Format(const char* fmt, double v)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, fmt, v);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n < 64 ? n : 63)) : std::string();
}

std::uint32_t Combine(std::int32_t lo, std::int32_t hi)
{
    return (static_cast<std::uint32_t>(lo) & 0xFFFFu) | ((static_cast<std::uint32_t>(hi) & 0xFFFFu) << 16);
}

}  // namespace

MeasuresCycle::MeasuresCycle(LinkState& link, Clock& clock) : link_(link), clock_(clock)
{
    static constexpr std::array<const char*, kCols> kRow0{"Line", "VA (V)", "VB (V)", "VC (V)", "",
                                                          "Frequency (Hz)", ""};
    static constexpr std::array<const char*, kCols> kRow2{"Outlet",
                                                          "Current (A)",
                                                          "Active power(W)",
                                                          "Reactive power(var)",
                                                          "Apparent power(va)",
                                                          "kWh(kWh)",
                                                          "kvarh(kvarh)"};
    for (int c = 0; c < kCols; ++c) {
        SetCell(0, c, kRow0[static_cast<std::size_t>(c)]);
        SetCell(2, c, kRow2[static_cast<std::size_t>(c)]);
    }
    for (int n = 1; n <= kOutlets; ++n)
        SetCell(n + 2, 0, std::to_string(n));
}

std::uint8_t MeasuresCycle::PollStep() { return gPollStep; }
void MeasuresCycle::SetPollStep(std::uint8_t step) { gPollStep = step; }

MeasuresCycle::Request MeasuresCycle::RequestAfter(int step)
{
    if (step >= 0 && step < 5)
        return {10 + step * kBlockRegs, kBlockRegs};
    return {0, 10};
}

void MeasuresCycle::Send(int start, int count)
{
    if (link_.protocol == nullptr || link_.port == nullptr)
        return;
    std::array<std::uint8_t, 16> frame{};
    const int len = link_.protocol->BuildReadRegisters(frame, link_.deviceAddress, start, count);
    if (len > 0)
        link_.port->Write(std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(len)));
}

void MeasuresCycle::Start()
{
    Send(0, 10);
    gPollStep = 0;
}

bool MeasuresCycle::Tick()
{
    if (link_.protocol == nullptr || link_.port == nullptr)
        return false;
    std::array<std::uint8_t, kReplyBytes> rx{};
    const int got = link_.port->Read(rx);
    // Room for the largest register reply the check can unpack from 200 bytes.
    std::array<std::int32_t, kReplyBytes> regs{};
    if (got <= 0 ||
        !link_.protocol->CheckReadRegistersReply(std::span<const std::uint8_t>(rx.data(), static_cast<std::size_t>(got)),
                                                 regs))
        return false;

    const int step = gPollStep;
    // A reply that passes its check but carries fewer registers than asked would decode
    // zeros into the grid; treat it as a failed check.
    const int expected = step == 0 ? 10 : kBlockRegs;
    if (got < 3 || rx[2] < 2 * expected)
        return false;
    if (step == 0) {
        DecodeLine(regs.data());
    } else {
        for (int k = 0; k < kOutletsPerBlock; ++k)
            DecodeOutlet(kOutletsPerBlock * (step - 1) + k + 1, regs.data() + k * kOutletRegs);
    }
    const Request next = RequestAfter(step);
    Send(next.start, next.count);
    gPollStep = static_cast<std::uint8_t>(step >= 5 ? 0 : step + 1);
    return true;
}

bool MeasuresCycle::ReadData(MessageSink* sink)
{
    Send(0, 10);
    clock_.sleep(300);
    bool ok = false;
    if (link_.protocol != nullptr && link_.port != nullptr) {
        std::array<std::uint8_t, kReplyBytes> rx{};
        std::array<std::int32_t, kReplyBytes> regs{};
        const int got = link_.port->Read(rx);
        ok = got > 0 && link_.protocol->CheckReadRegistersReply(
                            std::span<const std::uint8_t>(rx.data(), static_cast<std::size_t>(got)), regs);
    }
    if (!ok) {
        if (sink != nullptr)
            sink->Show(kUnableToReadText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    Start();
    return true;
}

bool MeasuresCycle::ClearEnergy(MessageSink* sink)
{
    clock_.sleep(200);
    for (int i = 0; i < kOutlets; ++i) {
        if (link_.protocol != nullptr && link_.port != nullptr) {
            const std::array<std::int32_t, 6> values{999, i, 0, 0, 0, 0};
            std::array<std::uint8_t, 32> frame{};
            const int len = link_.protocol->BuildWriteRegisters(frame, link_.deviceAddress, 9258, 6, values);
            if (len > 0)
                link_.port->Write(std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(len)));
        }
        clock_.sleep(500);
    }
    clock_.sleep(1000);
    if (sink != nullptr)
        sink->Show(kEnergyClearedText, "KVT40", MsgIcon::None, MsgButtons::Ok);
    return ReadData(sink);
}

const std::string& MeasuresCycle::Cell(int row, int col) const
{
    static const std::string kEmpty;
    if (row < 0 || row >= kRows || col < 0 || col >= kCols)
        return kEmpty;
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

std::string MeasuresCycle::GridText() const
{
    std::string out;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            if (c > 0)
                out += '\t';
            out += Cell(r, c);
        }
        out += '\n';
    }
    return out;
}

void MeasuresCycle::SetCell(int row, int col, std::string text)
{
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

std::string MeasuresCycle::FormatSigned16(std::int32_t reg, double scale, const char* fmt)
{
    const auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>(reg & 0xFFFF));
    return Format(fmt, raw * scale);
}

std::string MeasuresCycle::FormatSigned32(std::int32_t lo, std::int32_t hi, double scale)
{
    return Format("%0.1f", static_cast<std::int32_t>(Combine(lo, hi)) * scale);
}

std::string MeasuresCycle::FormatUnsigned32(std::int32_t lo, std::int32_t hi, double scale)
{
    return Format("%0.1f", Combine(lo, hi) * scale);
}

void MeasuresCycle::DecodeLine(const std::int32_t* regs)
{
    SetCell(1, 1, FormatSigned16(regs[0], 0.01, "%0.1f"));
    SetCell(1, 2, FormatSigned16(regs[1], 0.01, "%0.1f"));
    SetCell(1, 3, FormatSigned16(regs[2], 0.01, "%0.1f"));
    SetCell(1, 5, FormatSigned16(regs[9], 0.01, "%0.1f"));
}

void MeasuresCycle::DecodeOutlet(int outlet, const std::int32_t* r)
{
    const int row = outlet + 2;
    SetCell(row, 1, FormatSigned16(r[0], 0.001, "%0.3f"));
    SetCell(row, 2, FormatSigned32(r[1], r[2], 0.1));
    SetCell(row, 3, FormatSigned32(r[3], r[4], 0.1));
    SetCell(row, 4, FormatUnsigned32(r[5], r[6], 0.1));
    SetCell(row, 5, FormatUnsigned32(r[8], r[9], 0.1));
    SetCell(row, 6, FormatUnsigned32(r[10], r[11], 0.1));
}
