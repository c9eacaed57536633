#include "core/driver_object.h"

qint32 Tavrin::AddListReadVar(const VarItem&) { return 0; }
qint32 Tavrin::AddListWriteVar(const VarItem&) { return 0; }
qint32 Tavrin::AddListOnceReadVar(VarItem&) { return 0; }
