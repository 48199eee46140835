#include "settings/AddressBaudSettings.h"

#include "link/ConnectSequence.h"
#include "link/ModbusRtu.h"
#include "settings/DecimalText.h"

namespace {
constexpr long long kAddressMin = 1;
constexpr long long kAddressMax = 247;
}  // namespace

AddressBaudSettings::AddressBaudSettings(LinkState& link, Clock& clock) : session_(link, clock) {
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

std::string AddressBaudSettings::BaudOptionText(int index) {
    return index >= 0 && index < static_cast<int>(kBaudOptions.size())
               ? kBaudOptions[static_cast<std::size_t>(index)]
               : "";
}

namespace {
std::string At(int address, int baudIndex) {
    return "address " + std::to_string(address) + ", " + std::to_string(BaudRateOf(baudIndex)) + " bps";
}
}  // namespace

std::string MovedText(int address, int baudIndex) {
    return "The module now answers at " + At(address, baudIndex) + ".";
}

std::string NotMovedText(int address, int baudIndex) {
    return "The module did not take the new settings: it still answers at " + At(address, baudIndex) + "!";
}

std::string LostText(int newAddress, int newBaudIndex, int oldAddress, int oldBaudIndex) {
    return "The module answers neither at " + At(newAddress, newBaudIndex) + " nor at " +
           At(oldAddress, oldBaudIndex) + ": Communication failed!";
}

std::string ReopenFailedText(int baudIndex) {
    return "The settings were written, but the port could not be opened at " +
           std::to_string(BaudRateOf(baudIndex)) + " bps!";
}

bool AddressBaudSettings::Read(MessageSink& sink) {
    if (ReadBlock()) return true;
    sink.Show(kCommFailedText, "Warning", MsgIcon::Stop, MsgButtons::Ok);
    return false;
}

bool AddressBaudSettings::ReadBlock() {
    const auto regs = session_.ReadRegisters(kBlockStart, kBlockCount, kReadWaitMs);
    if (!regs) return false;
    const std::string address = std::to_string(Signed16((*regs)[0]));
    const std::string baud = BaudOptionText((*regs)[1]);
    cells_.Set(1, 1, address);
    cells_.Set(1, 2, address);
    cells_.Set(2, 1, baud);
    cells_.Set(2, 2, baud);
    return true;
}

void AddressBaudSettings::SetTyped(int row, std::string text) {
    if (row == 1 || row == 2) cells_.Set(row, 2, std::move(text));
}

long long AddressBaudSettings::TypedAddress() const {
    return LeadingInteger(cells_.Text(1, 2));
}

int AddressBaudSettings::TypedBaudIndex() const {
    for (std::size_t i = 0; i < kBaudOptions.size(); ++i)
        if (cells_.Text(2, 2) == kBaudOptions[i]) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> AddressBaudSettings::Check() const {
    const long long address = TypedAddress();
    if (address < kAddressMin || address > kAddressMax) return kAddressRangeText;
    if (TypedBaudIndex() < 0) return kBaudChoiceText;
    return std::nullopt;
}

bool AddressBaudSettings::MoveLink(int address, int baudIndex, const PortReopener& reopen) {
    LinkState& link = session_.Link();
    if (baudIndex != link.baudIndex && (!reopen || !reopen(baudIndex))) return false;
    link.deviceAddress = address;
    link.baudIndex = baudIndex;
    return true;
}

WriteOutcome AddressBaudSettings::Set(MessageSink& sink, const PortReopener& reopen) {
    moved_ = false;
    if (const auto fault = Check()) {
        sink.Show(*fault, "Warning", MsgIcon::Exclamation, MsgButtons::Ok);
        return WriteOutcome::Refused;
    }
    const LinkState& link = session_.Link();
    const int oldAddress = link.deviceAddress;
    const int oldBaud = link.baudIndex;
    const int newAddress = static_cast<int>(TypedAddress());
    const int newBaud = TypedBaudIndex();
    const std::array<std::int32_t, 2> values{newAddress, newBaud};
    // The echo is not judged; the read-back shows what the module took.
    session_.WriteRegisters(kBlockStart, values, kWriteWaitMs);
    if (newAddress == oldAddress && newBaud == oldBaud)
        return Read(sink) ? WriteOutcome::Done : WriteOutcome::Failed;

    // The module answers at its new settings from now on: the link goes there too.
    const auto fail = [&](const std::string& text) {
        moved_ = link.deviceAddress != oldAddress || link.baudIndex != oldBaud;
        sink.Show(text, "Warning", MsgIcon::Stop, MsgButtons::Ok);
        return WriteOutcome::Failed;
    };
    if (!MoveLink(newAddress, newBaud, reopen)) return fail(ReopenFailedText(newBaud));
    if (ReadBlock()) {
        moved_ = true;
        sink.Show(MovedText(newAddress, newBaud), "Information", MsgIcon::Information, MsgButtons::Ok);
        return WriteOutcome::Done;
    }
    // Not there: perhaps the module refused the write and still sits at the old settings.
    if (MoveLink(oldAddress, oldBaud, reopen) && ReadBlock()) return fail(NotMovedText(oldAddress, oldBaud));
    return fail(LostText(newAddress, newBaud, oldAddress, oldBaud));
}
