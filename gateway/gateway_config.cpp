#include "gateway_config.h"

int LineConfig::tagIndex(const QString& tagName) const
{
    for (int i = 0; i < tags.size(); ++i) {
        if (tags.at(i).name == tagName)
            return i;
    }
    return -1;
}

int GatewayConfig::lineIndex(const QString& lineName) const
{
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).name == lineName)
            return i;
    }
    return -1;
}
