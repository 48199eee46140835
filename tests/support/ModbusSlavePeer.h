#pragma once
// An independent Modbus RTU slave (libmodbus) on one end of a NullModem, serving in a
// thread; our side opens PortPath(). Starts and stops by itself.

#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>

#include "support/NullModem.h"

class ModbusSlavePeer {
public:
    ModbusSlavePeer() = default;
    ~ModbusSlavePeer() { Stop(); }
    ModbusSlavePeer(const ModbusSlavePeer&) = delete;
    ModbusSlavePeer& operator=(const ModbusSlavePeer&) = delete;

    bool Start(int slaveId, int baud = 9600) {
        if (!cable_.ok()) return false;
        ctx_ = modbus_new_rtu(cable_.pathA().c_str(), baud, 'N', 8, 1);
        if (ctx_ == nullptr) return false;
        modbus_set_slave(ctx_, slaveId);
        // A frame for another unit makes the slave wait this long; keep it short.
        modbus_set_response_timeout(ctx_, 0, 30000);
        modbus_set_indication_timeout(ctx_, 0, 50000);
        map_ = modbus_mapping_new(16, 16, 1000, 0);
        if (map_ == nullptr || modbus_connect(ctx_) != 0) return false;
        running_ = true;
        thread_ = std::thread([this] { Serve(); });
        return true;
    }

    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
        if (map_ != nullptr) {
            modbus_mapping_free(map_);
            map_ = nullptr;
        }
    }

    std::string PortPath() const { return cable_.pathB(); }

    void SetHoldingRegister(int addr, std::uint16_t v) {
        const std::lock_guard lock(mutex_);
        map_->tab_registers[addr] = v;
    }
    std::uint16_t HoldingRegister(int addr) {
        const std::lock_guard lock(mutex_);
        return map_->tab_registers[addr];
    }
    void SetInput(int addr, bool on) {
        const std::lock_guard lock(mutex_);
        map_->tab_input_bits[addr] = on ? 1 : 0;
    }
    void SetCoil(int addr, bool on) {
        const std::lock_guard lock(mutex_);
        map_->tab_bits[addr] = on ? 1 : 0;
    }
    bool Coil(int addr) {
        const std::lock_guard lock(mutex_);
        return map_->tab_bits[addr] != 0;
    }

private:
    void Serve() {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (running_) {
            const int rc = modbus_receive(ctx_, query);
            if (rc > 0) {
                const std::lock_guard lock(mutex_);
                modbus_reply(ctx_, query, rc, map_);
            } else if (rc < 0 && errno != ETIMEDOUT) {
                modbus_flush(ctx_);
            }
        }
    }

    NullModem cable_;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};
