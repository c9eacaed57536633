#include "core/driver_object.h"

qint32 Tavrin::ReCreatReadVarList(const QList<HostVarDef>&) { return 0; }
