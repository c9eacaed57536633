#pragma once

// The facts of the module's register table that the runtime keeps in a table
// of its own, in plain values, so that a test can hold the two side by side:
// the two tables' headers cannot meet in one file (both name an ElementKind).

#include <QtGlobal>

#include <string>
#include <vector>

struct ModuleRegisterFacts {
    std::string name;    // "X", ..., "D_bit", "32CV"
    std::string element; // "bit", "word" or "double word"
    std::string area;    // the image area that holds it: "D" for D_bit
    int numberBase;
    qint32 numberOffset;
    qint32 registerCount;
    qint32 byteBase;
    int unitBytes;       // 0 for bit types, 2 for words (D_bit too), 4 for 32CV
    qint32 forceBase;
    bool writable;       // the type has a write command
};

// One row per register type, in the module's table order.
std::vector<ModuleRegisterFacts> moduleRegisterFacts();
