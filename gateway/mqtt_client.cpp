#include "mqtt_client.h"

namespace {

// The client keeps its own certificate store unless a CA file is given.
const char* const SystemCaPath = "/etc/ssl/certs";

const char* orNull(const QByteArray& text)
{
    return text.isEmpty() ? nullptr : text.constData();
}

} // namespace

QString brokerAddress(const MqttConfig& config)
{
    return QStringLiteral("%1://%2:%3")
        .arg(config.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), config.host)
        .arg(config.port);
}

QString mosquittoError(int code)
{
    return QString::fromUtf8(mosquitto_strerror(code));
}

int setCredentialsAndTls(mosquitto* client, const MqttConfig& config)
{
    int code = MOSQ_ERR_SUCCESS;
    if (!config.username.isEmpty())
        code = mosquitto_username_pw_set(client, config.username.toUtf8().constData(), orNull(config.password.toUtf8()));
    if (code != MOSQ_ERR_SUCCESS || !config.tls)
        return code;
    const QByteArray ca = config.caFile.toUtf8();
    return mosquitto_tls_set(client, orNull(ca), ca.isEmpty() ? SystemCaPath : nullptr, orNull(config.certFile.toUtf8()),
                             orNull(config.keyFile.toUtf8()), nullptr);
}
