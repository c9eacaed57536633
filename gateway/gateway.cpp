#include "gateway.h"

#include "module_instance.h"

#include <condition_variable>
#include <mutex>

TagWriteResult awaitWrite(const std::function<void(const WriteDone&)>& start)
{
    struct Ending {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        TagWriteResult result;
    };
    // Shared: the line's thread may still be in `done` when the wait ends.
    const auto ending = std::make_shared<Ending>();
    start([ending](const TagWriteResult& result) {
        std::lock_guard<std::mutex> lock(ending->mutex);
        ending->result = result;
        ending->done = true;
        ending->ended.notify_all();
    });
    std::unique_lock<std::mutex> lock(ending->mutex);
    ending->ended.wait(lock, [&] { return ending->done; });
    return ending->result;
}

Gateway::Gateway(const GatewayConfig& config) : config_(config) {}

Gateway::~Gateway()
{
    stop();
}

void Gateway::addListener(GatewayListener* listener)
{
    listeners_.append(listener);
}

bool Gateway::load(QString* error)
{
    if (!lines_.empty())
        return true;
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
    return true;
}

bool Gateway::start(QString* error)
{
    if (!load(error))
        return false;
    for (auto& line : lines_)
        line->start();
    started_ = true;
    return true;
}

void Gateway::stop()
{
    for (auto& line : lines_)
        line->beginStop();
    for (auto& line : lines_)
        line->stop();
}

WriteDone Gateway::counted(const WriteDone& done)
{
    return [this, done](const TagWriteResult& result) {
        ++writes_.at(size_t(result.outcome));
        done(result);
    };
}

void Gateway::write(const QString& lineName, const QString& tagName, const QJsonValue& value, const WriteDone& done)
{
    if (!started_) {
        counted(done)(TagWriteResult{WriteOutcome::Unavailable, QStringLiteral("the gateway is starting")});
        return;
    }
    const int line = config_.lineIndex(lineName);
    if (line < 0 || size_t(line) >= lines_.size()) {
        counted(done)(TagWriteResult{WriteOutcome::Refused, QStringLiteral("no line \"%1\" in this gateway").arg(lineName)});
        return;
    }
    lines_.at(size_t(line))->write(tagName, value, counted(done));
}

void Gateway::writeValues(int line, int tag, int firstValue, const QVector<QByteArray>& values, const WriteDone& done)
{
    if (!started_) {
        counted(done)(TagWriteResult{WriteOutcome::Unavailable, QStringLiteral("the gateway is starting")});
        return;
    }
    if (line < 0 || size_t(line) >= lines_.size()) {
        counted(done)(TagWriteResult{WriteOutcome::Refused, QStringLiteral("no line %1 in this gateway").arg(line)});
        return;
    }
    lines_.at(size_t(line))->writeValues(tag, firstValue, values, counted(done));
}

TagState Gateway::tagState(int line, int tag) const
{
    if (line < 0 || size_t(line) >= lines_.size())
        return TagState();
    return lines_.at(size_t(line))->tagState(tag);
}

GatewayCounters Gateway::counters() const
{
    GatewayCounters counters;
    counters.published = published_;
    counters.sparkplugDropped = sparkplugDropped_;
    for (size_t k = 0; k < writes_.size(); ++k)
        counters.writes.at(k) = writes_.at(k);
    counters.history = history_.figures();
    return counters;
}

QVector<LineSnapshot> Gateway::snapshot() const
{
    QVector<LineSnapshot> lines;
    for (const auto& line : lines_)
        lines.append(line->snapshot());
    return lines;
}
