#pragma once

// The gateway as a Modbus TCP server, through Qt Serial Bus: the tags the
// configuration maps (coil:, discrete_input:, input_register:, holding:)
// at zero-based PDU addresses, for SCADA and panels that speak only Modbus.
//
// Reads are answered from the model's current tag states, without waiting
// for the PLC. Modbus has no quality: a read that touches a tag that is not
// good (bad, or not read yet) is answered with exception 04, server device
// failure, never with an old value. A write goes to the PLC through the
// line's write queue and is answered once the PLC acknowledged it; one the
// PLC did not acknowledge gets exception 04. An address no tag maps, a
// read-only tag, or part of a 32-bit value gets exception 02, illegal data
// address, and nothing is written. Reads of several tags and writes to
// several are served; a write to several tags goes to them in address order
// and stops at the first failure.
//
// The server runs on a thread of its own: a write holds up the next
// requests of every Modbus client until the PLC answered it (at most the
// line's give-up budget), and nothing else.

#include "face_thread.h"
#include "gateway.h"
#include "modbus_map.h"

class ModbusServer;

class ModbusFace {
public:
    ModbusFace(const ModbusConfig& config, Gateway& gateway);
    ~ModbusFace();
    ModbusFace(const ModbusFace&) = delete;
    ModbusFace& operator=(const ModbusFace&) = delete;

    // Listens. False with a message when the address cannot be taken.
    bool start(QString* error);
    void stop();

private:
    const ModbusConfig config_;
    Gateway& gateway_;
    const ModbusMap map_;
    ModbusServer* server_ = nullptr; // made, used and deleted on thread_
    FaceThread thread_;
};
