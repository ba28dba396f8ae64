#include "serial/portreader.h"

#include <QSerialPort>
#include <QThread>

#include <cstring>

namespace hexline {

PortReader::PortReader(QObject* parent) : QObject(parent)
{
    // The port is made on the reader's thread and lives there: QSerialPort is used from one
    // thread only. The thread gets an event dispatcher from QThread but never runs it, so the
    // port's own notifiers never fire and the port never reads by itself.
    openWake();
    thread_ = QThread::create([this] {
        QSerialPort port;
        run(port);
    });
    thread_->setObjectName(QStringLiteral("serial reader"));
    thread_->start();
}

PortReader::~PortReader()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake();
    thread_->wait();
    delete thread_;
    closeWake();
}

void PortReader::call(const std::function<void(QSerialPort&)>& step)
{
    std::unique_lock lock(mutex_);
    step_ = &step;
    wake();
    called_.wait(lock, [this] { return step_ == nullptr; });
    if (thrown_)
        std::rethrow_exception(std::exchange(thrown_, nullptr));
}

bool PortReader::runCall(QSerialPort& port)
{
    std::unique_lock lock(mutex_);
    if (stop_)
        return false;
    if (!step_)
        return true;
    const auto* step = step_;
    lock.unlock();
    std::exception_ptr thrown;
    try {
        (*step)(port);
    } catch (...) {
        thrown = std::current_exception();
    }
    lock.lock();
    if (!port.isOpen()) { // closed: nothing more comes from this opening
        bytes_.clear();
        start_ = 0;
        failure_.clear();
        failureTold_ = false;
        untold_ = false;
    }
    thrown_ = thrown;
    step_ = nullptr;
    called_.notify_all();
    return true;
}

qint64 PortReader::bytesAvailable() const
{
    const std::lock_guard lock(mutex_);
    return bytes_.size() - start_;
}

qint64 PortReader::read(char* data, qint64 max)
{
    const std::lock_guard lock(mutex_);
    const qint64 n = std::min<qint64>(max, bytes_.size() - start_);
    std::memcpy(data, bytes_.constData() + start_, size_t(n));
    start_ += n;
    if (start_ == bytes_.size()) { // mostly all is taken: the buffer is reused
        bytes_.resize(0);
        start_ = 0;
    }
    return n;
}

QString PortReader::takeFailure()
{
    const std::lock_guard lock(mutex_);
    if (failure_.isEmpty() || std::exchange(failureTold_, true))
        return {};
    return failure_;
}

qint64 PortReader::deliver(const char* data, qint64 n)
{
    const std::lock_guard lock(mutex_);
    if (start_ > 0 && start_ >= bytes_.size() / 2) { // keep the untaken rest from growing
        bytes_.remove(0, start_);
        start_ = 0;
    }
    bytes_.append(data, n);
    untold_ = true;
    return bytes_.size() - start_;
}

// The window's thread wakes about as often as it paints, however many pieces the device hands
// over meanwhile: one arrived() per interval at most, the first after a quiet spell at once.
int PortReader::tellWhenDue()
{
    if (!untold_)
        return -1;
    if (!nextTell_.hasExpired())
        return int(nextTell_.remainingTime());
    untold_ = false;
    nextTell_ = QDeadlineTimer(tellMs_, Qt::PreciseTimer);
    notify();
    return -1;
}

// Told at once: what was read before comes with it, in the failure's last receive event.
void PortReader::fail(const QString& reason)
{
    {
        const std::lock_guard lock(mutex_);
        failure_ = reason;
    }
    notify();
}

} // namespace hexline
