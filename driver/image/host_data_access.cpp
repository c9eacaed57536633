#include "core/driver_object.h"

qint32 Tavrin::GetRegisterData(const QString&, qint32, qint32, QByteArray&, qint32) { return 1; }
qint32 Tavrin::SetRegisterData(const QString&, qint32, qint32, const QByteArray&, qint32) { return 1; }
void Tavrin::UpdateImage(const VarItem&) {}
