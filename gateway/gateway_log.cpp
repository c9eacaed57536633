#include "gateway_log.h"

Q_LOGGING_CATEGORY(gatewayLog, "tavrin.gateway", QtInfoMsg)

void logInfo(const QString& text)
{
    if (gatewayLog().isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, gatewayLog().categoryName()).info().noquote() << text;
}

void logWarning(const QString& text)
{
    if (gatewayLog().isWarningEnabled())
        QMessageLogger(nullptr, 0, nullptr, gatewayLog().categoryName()).warning().noquote() << text;
}
