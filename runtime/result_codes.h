#pragma once

// Plain words for the module's DataCom results and give-up codes.

#include <QString>
#include <QtGlobal>

// The code without the item's HostId, which the module adds when it lies in
// 0..11: 44 (no reply to an item with HostId 3) gives 41.
qint32 baseResultCode(qint32 code);

// "good", "failed, will be resent", "no reply (code 41)", ...
QString describeResult(qint32 code);
