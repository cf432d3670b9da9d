#include "link/intervaltimer.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cstdint>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

IntervalTimer::IntervalTimer(int interval, bool enabled, Qt::TimerType type, QObject* parent)
    : QObject(parent), interval_(interval), enabled_(enabled)
{
    timer_.setTimerType(type);
    connect(&timer_, &QTimer::timeout, this, &IntervalTimer::tick);
    // The kernel timer is made when the clock first runs: a clock that never
    // runs costs no descriptor.
    wantKernelTimer_ = type == Qt::PreciseTimer;
    apply();
}

void IntervalTimer::makeKernelTimer()
{
    wantKernelTimer_ = false;
#ifdef Q_OS_LINUX
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &IntervalTimer::kernelTick);
    }
#endif
}

IntervalTimer::~IntervalTimer()
{
#ifdef Q_OS_LINUX
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
#endif
}

void IntervalTimer::setInterval(int ms)
{
    interval_ = ms;
    apply();
}

void IntervalTimer::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    apply();
}

void IntervalTimer::apply()
{
    const bool run = enabled_ && interval_ > 0;
    if (run && wantKernelTimer_)
        makeKernelTimer();
#ifdef Q_OS_LINUX
    if (fd_ >= 0) {
        // Arming or disarming also forgets expirations not yet read.
        itimerspec spec{};
        if (run) {
            spec.it_interval.tv_sec = interval_ / 1000;
            spec.it_interval.tv_nsec = long(interval_ % 1000) * 1000000;
            spec.it_value = spec.it_interval;
        }
        armed_ = timerfd_settime(fd_, 0, &spec, nullptr) == 0 && run;
        return;
    }
#endif
    if (run)
        timer_.start(interval_);
    else
        timer_.stop();
}

void IntervalTimer::kernelTick()
{
#ifdef Q_OS_LINUX
    std::uint64_t expirations = 0;
    // Nothing to read: stopped or restarted since the line became readable.
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations || !armed_)
        return;
#endif
    // Ticks missed while the loop was busy are not made up: one tick, then
    // the grid goes on.
    tick();
}

void IntervalTimer::tick()
{
    if (inTick_ || !onTimer)
        return;
    inTick_ = true;
    const QPointer<IntervalTimer> alive(this);  // the handler may close what owns us
    onTimer();
    if (alive)
        inTick_ = false;
}
