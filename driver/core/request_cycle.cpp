#include "core/driver_object.h"

RequestFrame* Tavrin::ComCommunication() { return nullptr; }
qint32 Tavrin::DataCom(const QByteArray&) { return ReplyMissing; }
void Tavrin::ListStep() {}
void Tavrin::NotifyCompletion(const VarItemList&) {}
