#include "sim/EmbeddedSim.h"

EmbeddedSim::EmbeddedSim(int address, int baud) : bus_(clock_), server_(bus_) {
    bus_.AddModule(address, VirtualModule::BaudIndexOf(baud).value_or(1));
}

EmbeddedSim::~EmbeddedSim() {
    Stop();
}

bool EmbeddedSim::Start() {
    return server_.Start();
}

std::string EmbeddedSim::PortPath() const {
    return server_.SlavePath();
}

void EmbeddedSim::Stop() {
    server_.Stop();
}
