#include "SimEngine.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A never-ending stream is refilled in batches of about this size...
constexpr qsizetype StreamBatch = 4096;
// ...as long as less than this waits for a reader; a stalled reader must not make us grow.
constexpr qsizetype StreamBacklog = 16384;
constexpr qsizetype WriteStep = 65536;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool setFlags(int fd) {
    const int fdFlags = ::fcntl(fd, F_GETFD);
    const int flFlags = ::fcntl(fd, F_GETFL);
    return fdFlags >= 0 && flFlags >= 0 && ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0 &&
           ::fcntl(fd, F_SETFL, flFlags | O_NONBLOCK) == 0;
}

QString slaveName(int master) {
#if defined(__linux__)
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) return {};
    return QString::fromLocal8Bit(name);
#else
    // ptsname() answers in a static buffer, and every device has a thread of its own.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const char* name = ::ptsname(master);
    return name ? QString::fromLocal8Bit(name) : QString();
#endif
}

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimEngine::SimEngine(const SimConfig& config) : config_(config), dueTimer_(this), readRetry_(this) {
    dueTimer_.setSingleShot(true);
    dueTimer_.setTimerType(Qt::PreciseTimer);
    connect(&dueTimer_, &QTimer::timeout, this, &SimEngine::pump);
    readRetry_.setSingleShot(true);
    connect(&readRetry_, &QTimer::timeout, this, [this] {
        if (readNotifier_) readNotifier_->setEnabled(true);
    });
}

SimEngine::~SimEngine() {
    unplug();
}

bool SimEngine::plug(QString* error) {
    if (isPlugged()) return true;
    int master = -1, slave = -1;
    auto fail = [&](const char* what) {
        if (error) *error = systemError(what);
        closeFd(slave);
        closeFd(master);
        return false;
    };

    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return fail("posix_openpt");
    if (!setFlags(master)) return fail("fcntl");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) return fail("grantpt/unlockpt");
    const QString name = slaveName(master);
    if (name.isEmpty()) return fail("ptsname");

    // Raw before anyone can see the name: otherwise the line discipline echoes the program's
    // commands back to it, turns CR into LF and eats control characters.
    slave = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) return fail("open");
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0) return fail("tcsetattr");

    master_ = master;
    slaveHold_ = slave;
    portName_ = name;
    probesSeen_ = 0;
    lineFree_ = {};

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &SimEngine::onReadable);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &SimEngine::pump);

    emit plugged(portName_);
    return true;
}

void SimEngine::unplug() {
    if (!isPlugged()) return;
    dropOutput();
    readRetry_.stop();
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    // Closing the master hangs up every open slave descriptor: the program's reads fail
    // from now on, just as when the cable is pulled.
    closeFd(master_);
    closeFd(slaveHold_);
    portName_.clear();
    emit unplugged();
}

void SimEngine::setPower(bool on) {
    if (on == on_) return;
    on_ = on;
    if (on)
        probesSeen_ = 0;
    else
        dropOutput();
}

void SimEngine::send(const QByteArray& bytes) {
    enqueue(bytes, config_.dataPacing, Clock::now());
    pump();
}

void SimEngine::startStream(const QByteArray& pattern) {
    if (pattern.isEmpty() || !on_ || !isPlugged()) return;
    streamPattern_ = pattern;
    streaming_ = true;
    pump();
}

void SimEngine::stopStream() {
    streaming_ = false;
    // What the stream has scheduled but not handed over yet never goes out; replies queued
    // behind it keep their times.
    std::erase_if(scheduled_, [](const Transfer& transfer) { return transfer.stream; });
    lineFree_ = scheduled_.empty() ? Clock::time_point{} : scheduled_.back().lastDue();
    pump();
}

qsizetype SimEngine::pendingOutput() const {
    qsizetype n = out_.size() - outHead_;
    for (const Transfer& transfer : scheduled_)
        n += transfer.bytes.size() - transfer.sent;
    return n;
}

std::vector<SimRxByte> SimEngine::received() const {
    std::lock_guard lock(logMutex_);
    return log_;
}

void SimEngine::clearReceived() {
    std::lock_guard lock(logMutex_);
    log_.clear();
    exitCount_ = 0;
}

void SimEngine::onReadable() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            const auto at = Clock::now();
            {
                std::lock_guard lock(logMutex_);
                for (ssize_t i = 0; i < n; ++i)
                    log_.push_back({at, buffer[i]});
            }
            emit bytesReceived(QByteArray(buffer, n));
            if (on_)
                for (ssize_t i = 0; i < n && isPlugged(); ++i)
                    handleCommand(buffer[i]);
            if (!isPlugged() || n < static_cast<ssize_t>(sizeof buffer)) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // A master with no slave open reads as hung up and stays readable; our own slave
        // descriptor prevents that, but should it happen anyway, back off instead of spinning.
        readNotifier_->setEnabled(false);
        readRetry_.start(50);
        break;
    }
}

void SimEngine::handleCommand(char command) {
    const auto start = Clock::now() + std::chrono::milliseconds(config_.replyDelayMs);
    switch (command) {
    case '?':
        if (++probesSeen_ > config_.probesBeforeAnswer)
            enqueue(config_.idLine, config_.idPacing, start);
        break;
    case 'H':
        enqueue(config_.header, config_.dataPacing, start);
        break;
    case 'T':
    case 'R':
    case 'C':
    case 'A':
        enqueue(config_.dataFor(command), config_.dataPacing, start);
        break;
    case 'X':
        ++exitCount_;
        break;
    default:
        return;
    }
    pump();
    emit commandReceived(command);
}

SimEngine::Clock::time_point SimEngine::Transfer::nextDue() const {
    const qsizetype piece = sent / step;
    const qsizetype through = std::min(sent + step, bytes.size());
    auto due = start + piece * gap;
    if (lineRate)
        due += std::chrono::nanoseconds(through * 1'000'000'000LL / SimConfig::LineBytesPerSecond);
    return due;
}

SimEngine::Clock::time_point SimEngine::Transfer::lastDue() const {
    Transfer last = *this;
    last.sent = (bytes.size() - 1) / step * step;
    return last.nextDue();
}

void SimEngine::enqueue(const QByteArray& bytes, const SimPacing& pacing,
                        Clock::time_point earliest, bool stream) {
    if (!isPlugged() || !on_ || bytes.isEmpty()) return;
    Transfer transfer;
    transfer.bytes = bytes;
    // Pieces that would all be due at once are one piece.
    transfer.step = pacing.chunkSize > 0 && paced(pacing) ? pacing.chunkSize : bytes.size();
    transfer.gap = std::chrono::milliseconds(pacing.gapMs);
    transfer.lineRate = config_.lineRate;
    // One line: a reply waits for the one before it to be through.
    transfer.start = std::max(earliest, lineFree_);
    transfer.stream = stream;
    lineFree_ = transfer.lastDue();
    scheduled_.push_back(std::move(transfer));
}

void SimEngine::pump() {
    if (!isPlugged()) return;
    const auto now = Clock::now();
    moveDuePieces(now);
    topUpStream();
    moveDuePieces(now);
    writeOut();

    const bool unpacedStream = streaming_ && !paced(config_.dataPacing);
    writeNotifier_->setEnabled(outHead_ < out_.size() || unpacedStream);
    if (scheduled_.empty()) {
        dueTimer_.stop();
    } else {
        const auto untilDue = scheduled_.front().nextDue() - Clock::now();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(untilDue).count();
        dueTimer_.start(static_cast<int>(std::clamp<long long>(ms, 0, 24 * 3600 * 1000)));
    }
}

void SimEngine::moveDuePieces(Clock::time_point now) {
    while (!scheduled_.empty() && scheduled_.front().nextDue() <= now) {
        Transfer& transfer = scheduled_.front();
        out_.append(transfer.bytes.constData() + transfer.sent,
                    std::min(transfer.step, transfer.bytes.size() - transfer.sent));
        transfer.sent += transfer.step;
        if (transfer.sent >= transfer.bytes.size()) scheduled_.pop_front();
    }
}

void SimEngine::topUpStream() {
    if (!streaming_ || !on_ || !scheduled_.empty()) return;
    if (out_.size() - outHead_ >= StreamBacklog) return;
    QByteArray batch;
    const qsizetype repeats = std::max<qsizetype>(1, StreamBatch / streamPattern_.size());
    batch.reserve(repeats * streamPattern_.size());
    for (qsizetype i = 0; i < repeats; ++i)
        batch.append(streamPattern_);
    enqueue(batch, config_.dataPacing, Clock::now(), true);
}

void SimEngine::writeOut() {
    while (outHead_ < out_.size()) {
        const qsizetype step = std::min(out_.size() - outHead_, WriteStep);
        const ssize_t n = ::write(master_, out_.constData() + outHead_, static_cast<size_t>(step));
        if (n > 0) {
            outHead_ += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // Anything else would repeat on every writable event: give the bytes up.
        outHead_ = out_.size();
    }
    if (outHead_ == out_.size()) {
        out_.clear();
        outHead_ = 0;
    } else if (outHead_ >= WriteStep && outHead_ * 2 >= out_.size()) {
        out_.remove(0, outHead_);
        outHead_ = 0;
    }
}

void SimEngine::dropOutput() {
    scheduled_.clear();
    out_.clear();
    outHead_ = 0;
    streaming_ = false;
    lineFree_ = {};
    dueTimer_.stop();
    if (writeNotifier_) writeNotifier_->setEnabled(false);
}
