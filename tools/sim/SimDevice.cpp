#include "SimDevice.h"

#include "SimEngine.h"

#include <QThread>
#include <type_traits>

// Runs f on the device's thread and waits for it; directly when already there (a slot
// connected directly to one of the device's signals), where waiting would deadlock.
template <typename F> auto SimDevice::onEngine(F f) const {
    using Result = std::invoke_result_t<F>;
    if (QThread::currentThread() == thread_.get()) return f();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(engine_.get(), f, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            engine_.get(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

SimDevice::SimDevice(const SimConfig& config, QObject* parent)
    : QObject(parent), thread_(std::make_unique<QThread>()),
      engine_(std::make_unique<SimEngine>(config)) {
    thread_->setObjectName(QStringLiteral("rzt-sim device"));
    engine_->moveToThread(thread_.get());
    connect(engine_.get(), &SimEngine::bytesReceived, this, &SimDevice::bytesReceived);
    connect(engine_.get(), &SimEngine::commandReceived, this, &SimDevice::commandReceived);
    connect(engine_.get(), &SimEngine::plugged, this, &SimDevice::plugged);
    connect(engine_.get(), &SimEngine::unplugged, this, &SimDevice::unplugged);
    thread_->start();
}

SimDevice::~SimDevice() {
    // Close the pseudo-terminal and hand the engine back on its own thread, so that it is
    // destroyed here with no timer or notifier left in a thread that has gone.
    QThread* home = thread();
    onEngine([this, home] {
        engine_->unplug();
        engine_->moveToThread(home);
    });
    thread_->quit();
    thread_->wait();
}

bool SimDevice::plug(QString* error) {
    return onEngine([this, error] { return engine_->plug(error); });
}

void SimDevice::unplug() {
    onEngine([this] { engine_->unplug(); });
}

bool SimDevice::isPlugged() const {
    return onEngine([this] { return engine_->isPlugged(); });
}

QString SimDevice::portName() const {
    return onEngine([this] { return engine_->portName(); });
}

void SimDevice::switchOff() {
    onEngine([this] { engine_->setPower(false); });
}

void SimDevice::switchOn() {
    onEngine([this] { engine_->setPower(true); });
}

bool SimDevice::isOn() const {
    return onEngine([this] { return engine_->isOn(); });
}

SimConfig SimDevice::config() const {
    return onEngine([this] { return engine_->config(); });
}

void SimDevice::setConfig(const SimConfig& config) {
    onEngine([this, &config] { engine_->setConfig(config); });
}

void SimDevice::send(const QByteArray& bytes) {
    onEngine([this, &bytes] { engine_->send(bytes); });
}

void SimDevice::startStream(const QByteArray& pattern) {
    onEngine([this, &pattern] { engine_->startStream(pattern); });
}

void SimDevice::stopStream() {
    onEngine([this] { engine_->stopStream(); });
}

qsizetype SimDevice::pendingOutput() const {
    return onEngine([this] { return engine_->pendingOutput(); });
}

QList<SimRxByte> SimDevice::received() const {
    const auto log = engine_->received();
    return QList<SimRxByte>(log.begin(), log.end());
}

QByteArray SimDevice::receivedBytes() const {
    QByteArray bytes;
    for (const SimRxByte& rx : engine_->received())
        bytes.append(rx.byte);
    return bytes;
}

int SimDevice::exitCount() const {
    return engine_->exitCount();
}

void SimDevice::clearReceived() {
    engine_->clearReceived();
}
