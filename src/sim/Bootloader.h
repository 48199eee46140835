#pragma once
// The virtual module's bootloader, behind its raw hook. A handshake "ID" + the module's
// address in four digits + "TOKENKEY7305" answers a banner with "====" at 74..77 and stops
// the application (no Modbus answers from then on); the key "1" answers a text with "C" at
// 35 and opens a receive; then a header block (SOH, path, decimal size), 1029-byte data
// blocks, EOT and an all-zero closing header, each checked (CRC-16/CCITT-FALSE, from 0xFFFF)
// and acknowledged. The closing block programs the image and restarts the application:
// its software version (register 9500) is taken from an ASCII tag "VER=" + digits in the
// image when there is one; the calibration snapshot (376..405) is kept.
//
// Faults, for the update's failure paths:
//     Bootloader::Faults f;
//     f.ignoreHandshake = true;          // never answers the handshake
//     f.nakBlock = 3; f.nakCount = 1;    // NAKs data block 3 once (then takes it)
//     f.dropBlock = 3; f.dropCount = 2;  // leaves block 3 unanswered twice
//     f.snapshotChanges = true;          // 376..405 differ after the update
//     f.vanishAtBlock = 5;               // silent from block 5 for vanishMs, then back in
//                                        // its bootloader waiting for the key
//     BootloaderOf(module)->SetFaults(f);
//     BootloaderOf(module)->EnterBootloader(module);  // left in its bootloader
//
// A module in its bootloader claims the key "1" and EOT only when they are not the start
// of a Modbus frame, and a block only while its number and complement agree, so the
// modules beside it on the bus keep their Modbus traffic.
//
// Not thread-safe on its own: the bus calls it with its mutex held.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/RawHandler.h"

class Bootloader final : public RawHandler {
public:
    static constexpr std::string_view kAccessCode = "TOKENKEY7305";
    static constexpr std::string_view kReadyText = "Waiting for the file to be sent ...";
    static constexpr std::size_t kHandshakeLength = 18;
    static constexpr std::uint8_t kSoh = 0x01;
    static constexpr std::uint8_t kStx = 0x02;
    static constexpr std::uint8_t kEot = 0x04;
    static constexpr std::uint8_t kAck = 0x06;
    static constexpr std::uint8_t kNak = 0x15;
    static constexpr std::uint8_t kReady = 'C';
    static constexpr int kPrintMs = 50;              // before a text (banner, ready text) goes out
    static constexpr int kFlashWriteMs = 10;         // each data block
    static constexpr int kDefaultVanishMs = 600000;  // outlasts the sender's two sendings of 200 s

    enum class State { Application, Menu, Receiving, Closing, Vanished };

    struct Faults {
        bool ignoreHandshake = false;
        int nakBlock = 0;  // data block (1 = the first, counted in full) answered NAK
        int nakCount = 1;
        int dropBlock = 0;  // data block left unanswered
        int dropCount = 1;
        bool snapshotChanges = false;
        int vanishAtBlock = 0;
        int vanishMs = kDefaultVanishMs;
    };

    Match MatchRaw(std::span<const std::uint8_t> stream, std::size_t& length) const override;
    std::vector<std::uint8_t> HandleRaw(VirtualModule& module, std::span<const std::uint8_t> unit,
                                        Clock::Micros now) override;
    int ExtraDelayMs() const override { return extraMs_; }

    void SetFaults(const Faults& faults);
    // Hears every step of the bootloader ("handshake", "block 3", "programmed 61440 bytes"),
    // with the module's address; kvt40-sim --trace prints them.
    using Trace = std::function<void(int address, const std::string& event)>;
    void SetTrace(Trace trace) { trace_ = std::move(trace); }
    // The module as left by an interrupted update: in its bootloader, waiting for the key.
    void EnterBootloader(VirtualModule& module);

    State CurrentState() const { return state_; }
    // The last image programmed (header size bytes), its path, and how many were programmed.
    const std::vector<std::uint8_t>& Programmed() const { return programmed_; }
    const std::string& ProgrammedName() const { return programmedName_; }
    int Programs() const { return programs_; }
    // Data blocks taken in the receive now running (or last run).
    int BlocksReceived() const { return static_cast<int>(received_.size() / 1024); }

    // The banner for an address: "====" at 74..77, no zero byte.
    static std::string Banner(int address);
    // CRC-16/CCITT-FALSE, written apart from the sender's so each checks the other.
    static std::uint16_t Crc(std::span<const std::uint8_t> data);
    // The number after the first "VER=" in the image (at most 65535); -1 without one.
    static int VersionTag(std::span<const std::uint8_t> image);

private:
    bool InLoader() const { return state_ != State::Application; }
    bool Receives() const {
        return state_ == State::Receiving || state_ == State::Closing || state_ == State::Vanished;
    }
    std::vector<std::uint8_t> OnHandshake(VirtualModule& module, std::span<const std::uint8_t> unit);
    std::vector<std::uint8_t> OnHeader(VirtualModule& module, std::span<const std::uint8_t> unit);
    std::vector<std::uint8_t> OnBlock(std::span<const std::uint8_t> unit, Clock::Micros now);
    void Program(VirtualModule& module);
    void Note(const VirtualModule& module, const std::string& event) const;

    State state_ = State::Application;
    Faults faults_;
    int extraMs_ = 0;
    int naksLeft_ = 0;
    int dropsLeft_ = 0;
    bool vanishArmed_ = false;
    Clock::Micros back_{0};
    bool headerSeen_ = false;
    std::string name_;
    std::uint32_t size_ = 0;
    std::uint32_t expected_ = 1;  // the next data block, counted in full
    std::vector<std::uint8_t> received_;
    std::vector<std::uint8_t> programmed_;
    std::string programmedName_;
    int programs_ = 0;
    Trace trace_;
};

// The module's bootloader; nullptr when another handler took its place.
Bootloader* BootloaderOf(VirtualModule& module);
