#pragma once

// What every MQTT session of the gateway (the JSON face's, the Sparkplug B
// edge node's) sets up alike from the mqtt: section: credentials, TLS, the
// broker's name in messages and libmosquitto's error texts.

#include "gateway_config.h"

#include <mosquitto.h>

#include <QString>

// "mqtt://HOST:PORT" or "mqtts://HOST:PORT".
QString brokerAddress(const MqttConfig& config);
QString mosquittoError(int code);

// The username and password, and TLS with the CA, certificate and key files
// (the system's certificate store without a CA file). A libmosquitto code.
int setCredentialsAndTls(mosquitto* client, const MqttConfig& config);
