#pragma once

// Reads a gateway configuration file (YAML) and checks all of it before
// anything connects: every key known, every value of the expected kind and
// range, every address through the module's own check and the port's reach,
// every name fit for a topic and unique. Each mistake is reported as
// compilers do, "FILE:LINE:COLUMN: what is wrong; what is expected", and all
// of them are reported, not just the first.
//
// Every section (mqtt:, modbus:, http:, lines:) and its keys is a row of the
// key tables in config_reader.cpp; a key no table has is reported as unknown.

#include "gateway_config.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reads `fileName`. False with the messages in `errors`.
bool readGatewayConfig(const QString& fileName, GatewayConfig* config, QStringList* errors);

// The same for text already read; `fileName` names it in the messages.
bool parseGatewayConfig(const QByteArray& text, const QString& fileName, GatewayConfig* config,
                        QStringList* errors);
