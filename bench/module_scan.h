#pragma once

// Counting runs of the module: one full scan of its cyclic read list through
// the entry points of its loaded copy, as any host calls them, each request
// answered by a virtual PLC, with the frames and the characters both ways.
// Counted, not timed, so exact.

#include "module_instance.h"
#include "tavrin.h"
#include "variable_address.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class VirtualPlc;

struct WireCost {
    int frames = 0;
    qint64 characters = 0; // request and reply, both directions
    int refused = 0;       // frames the PLC refused: above its byte limit
    double wireSeconds(qint32 baud) const;
};

// The module's shared copy for one counting run: set up with block size
// `blockSize` and no retries, its cyclic read list empty. Ends the program
// with a message when the module cannot be loaded or a runtime drives it.
class CountingRun {
public:
    explicit CountingRun(qint32 blockSize);
    ~CountingRun(); // empties the list and lets the copy go
    CountingRun(const CountingRun&) = delete;
    CountingRun& operator=(const CountingRun&) = delete;

    ModuleInstance& module() { return *module_; }

    // Sends the next `frames` frames of the cyclic list to `plc` and hands
    // its replies back to the module.
    WireCost scan(int frames, VirtualPlc& plc);

private:
    std::shared_ptr<ModuleInstance> module_;
};

// One full pass over the read blocks ReCreatReadVarList makes of `vars`.
WireCost scanCost(const QList<HostVarDef>& vars, qint32 blockSize, VirtualPlc& plc);

// The variables as the tool's user writes them ("D100", "X17", "D50.3",
// "SM8000", "32CV200", with their registers), parsed as the tool parses
// them. False with the first error when one does not parse.
bool parseVariables(const QList<HostVarDef>& vars, QList<VariableAddress>* variables, QString* error);
