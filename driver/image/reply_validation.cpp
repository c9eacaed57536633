#include "core/driver_object.h"

qint32 Tavrin::ValidateReply(const QByteArray&, qint32) { return ReplyMissing; }
void Tavrin::DecodeReply(const QByteArray&) {}
