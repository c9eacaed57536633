#pragma once

// One loaded copy of the module, its entry points resolved by name, as any
// host loads it. The module keeps one driver object per loaded copy, so a
// host that drives several lines at once loads a copy per line: the first
// from the module's file, the others from private copies of that file, which
// the system loads as libraries of their own. Every copy is loaded without
// making its names global, so no copy's calls can land in another.
//
// Where the module is: $TAVRIN_MODULE if set; else beside the program as
// built (../driver/) or installed (../lib..., see CMake); else the system's
// library search for libtavrin.so.1.

#include "tavrin.h"

#include <QLibrary>
#include <QString>

#include <array>
#include <atomic>
#include <memory>

class QTemporaryDir;

class ModuleInstance {
public:
    // The first copy, shared by everything that needs no line of its own
    // (address checks, a single line). Null with a message when the module
    // cannot be found or lacks an entry point.
    static std::shared_ptr<ModuleInstance> shared(QString* error);
    // A copy of its own, for one more line.
    static std::shared_ptr<ModuleInstance> loadCopy(QString* error);
    ~ModuleInstance();

    QString fileName() const { return library_.fileName(); }

    // One request cycle at a time drives a copy: claim() is false while
    // another holds it.
    bool claim() { return !driven_.exchange(true); }
    void release() { driven_ = false; }
    // Where the copy's ComInfo pointer rests while no runtime drives it: the
    // module keeps the pointer for its whole life and must never see a
    // block that is gone.
    std::array<qint32, 32>& restingComInfo() { return restingComInfo_; }

    TavrinEntry::SetComInfoFn SetComInfo = nullptr;
    TavrinEntry::RegistCallBackFuncIntfFn RegistCallBackFuncIntf = nullptr;
    TavrinEntry::AddListReadVarFn AddListReadVar = nullptr;
    TavrinEntry::AddListWriteVarFn AddListWriteVar = nullptr;
    TavrinEntry::AddListOnceReadVarFn AddListOnceReadVar = nullptr;
    TavrinEntry::ReCreatReadVarListFn ReCreatReadVarList = nullptr;
    TavrinEntry::ComCommunicationFn ComCommunication = nullptr;
    TavrinEntry::DataComFn DataCom = nullptr;
    TavrinEntry::GetRegisterDataFn GetRegisterData = nullptr;
    TavrinEntry::AddrStringToIntFn AddrStringToInt = nullptr;
    TavrinEntry::CheckAddrCorrectFn CheckAddrCorrect = nullptr;
    TavrinEntry::AddrMutilCopyFn AddrMutilCopy = nullptr;

private:
    ModuleInstance() = default;
    bool load(const QString& fileName, QString* error);
    static std::shared_ptr<ModuleInstance> fromFile(const QString& fileName, QString* error);

    QLibrary library_;
    std::unique_ptr<QTemporaryDir> copyDir_; // holds a private copy's file
    std::atomic<bool> driven_{false};
    std::array<qint32, 32> restingComInfo_{};
};
