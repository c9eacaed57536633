#include "core/driver_object.h"

void Tavrin::BuildWriteRequest(const VarItem&) {}
void Tavrin::BuildForce(const VarItem&) {}
void Tavrin::BuildWordWrite(const VarItem&) {}
void Tavrin::BuildBitOfWordWrite(const VarItem&) {}
