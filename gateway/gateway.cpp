#include "gateway.h"

#include "module_instance.h"

Gateway::Gateway(const GatewayConfig& config) : config_(config) {}

Gateway::~Gateway()
{
    stop();
}

void Gateway::addListener(GatewayListener* listener)
{
    listeners_.append(listener);
}

bool Gateway::start(QString* error)
{
    // The module keeps one driver object per loaded copy: the first line
    // drives the shared copy, every other line a copy of its own.
    std::vector<std::shared_ptr<ModuleInstance>> modules;
    for (int i = 0; i < config_.lines.size(); ++i) {
        auto module = i == 0 ? ModuleInstance::shared(error) : ModuleInstance::loadCopy(error);
        if (!module)
            return false;
        modules.push_back(module);
    }
    for (int i = 0; i < config_.lines.size(); ++i)
        lines_.push_back(std::make_unique<GatewayLine>(config_.lines.at(i), i, modules.at(size_t(i)), listeners_));
    for (auto& line : lines_)
        line->start();
    return true;
}

void Gateway::stop()
{
    for (auto& line : lines_)
        line->beginStop();
    for (auto& line : lines_)
        line->stop();
}

void Gateway::write(const QString& lineName, const QString& tagName, const QJsonValue& value, const WriteDone& done)
{
    const int line = config_.lineIndex(lineName);
    if (line < 0 || size_t(line) >= lines_.size()) {
        done(WriteResult{false, QStringLiteral("no line \"%1\" in this gateway").arg(lineName)});
        return;
    }
    lines_.at(size_t(line))->write(tagName, value, done);
}

QVector<LineSnapshot> Gateway::snapshot() const
{
    QVector<LineSnapshot> lines;
    for (const auto& line : lines_)
        lines.append(line->snapshot());
    return lines;
}
