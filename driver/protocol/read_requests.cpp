#include "core/driver_object.h"

void Tavrin::BuildReadRequest(const VarItem&) {}
void Tavrin::BuildBitRead(const VarItem&) {}
void Tavrin::BuildWordRead(const VarItem&) {}
