#include "gateway_log.h"

Q_LOGGING_CATEGORY(gatewayLog, "tavrin.gateway", QtInfoMsg)
