#include "settings/CommParameters.h"

#include "link/ConnectSequence.h"
#include "link/ModbusRtu.h"
#include "settings/DecimalText.h"

namespace {
constexpr long long kAddressMin = 1;
constexpr long long kAddressMax = 247;
}  // namespace

CommParameters::CommParameters(LinkState& link, Clock& clock) : session_(link, clock) {
    cells_.Resize(kRows, kCols);
    cells_.Set(0, 0, "Item");
    cells_.Set(0, 1, "Initial value");
    cells_.Set(0, 2, "Setting value");
    cells_.Set(1, 0, "Device address");
    cells_.Set(2, 0, "Baudrate");
    cells_.Set(2, 2, kBaudOptions[1]);
    for (int c = 0; c < kCols; ++c) cells_.SetRole(0, c, CellRole::Header);
    for (int r = 1; r < kRows; ++r) cells_.SetRole(r, 0, CellRole::Header);
}

std::string CommParameters::BaudOptionText(int index) {
    return index >= 0 && index < static_cast<int>(kBaudOptions.size()) ? kBaudOptions[static_cast<std::size_t>(index)]
                                                                        : "";
}

bool CommParameters::Read(MessageSink& sink) {
    const auto regs = session_.ReadRegisters(kBlockStart, kBlockCount, kReadWaitMs);
    if (!regs) {
        sink.Show(kCommFailedText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    const std::string address = std::to_string(Signed16((*regs)[0]));
    const std::string baud = BaudOptionText((*regs)[1]);
    cells_.Set(1, 1, address);
    cells_.Set(1, 2, address);
    cells_.Set(2, 1, baud);
    cells_.Set(2, 2, baud);
    return true;
}

void CommParameters::SetTyped(int row, std::string text) {
    if (row == 1 || row == 2) cells_.Set(row, 2, std::move(text));
}

long long CommParameters::TypedAddress() const { return LeadingInteger(cells_.Text(1, 2)); }

int CommParameters::TypedBaudIndex() const {
    for (std::size_t i = 0; i < kBaudOptions.size(); ++i)
        if (cells_.Text(2, 2) == kBaudOptions[i]) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> CommParameters::Check() const {
    const long long address = TypedAddress();
    if (address < kAddressMin || address > kAddressMax) return kAddressRangeText;
    if (TypedBaudIndex() < 0) return kBaudChoiceText;
    return std::nullopt;
}

WriteOutcome CommParameters::Set(MessageSink& sink) {
    if (const auto fault = Check()) {
        sink.Show(*fault, "Warning", MsgIcon::Exclamation, MsgButtons::Ok);
        return WriteOutcome::Refused;
    }
    const std::array<std::int32_t, 2> values{static_cast<std::int32_t>(TypedAddress()), TypedBaudIndex()};
    // The echo is not judged; the read-back shows what the module took.
    session_.WriteRegisters(kBlockStart, values, kWriteWaitMs);
    return Read(sink) ? WriteOutcome::Done : WriteOutcome::Failed;
}
