// The poll clock and the lamp clock: an interval and an enable flag.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class QSocketNotifier;

// A timer with an interval and an enable flag; it ticks only while enabled
// with an interval above 0. Setting the interval or enabling restarts the
// count from zero.
//
// A precise timer on Linux runs on a kernel timer (timerfd): Qt rounds every
// timer wait up to a whole millisecond, which leaves a 30 ms poll period up
// to a millisecond late and uneven; the kernel timer keeps its ticks on the
// exact grid of the period. A tick that finds the handler still running
// (nested event loop) is dropped, as Qt's own timers do.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    IntervalTimer(int interval, bool enabled, Qt::TimerType type, QObject* parent = nullptr);
    ~IntervalTimer() override;

    int interval() const { return interval_; }
    bool isEnabled() const { return enabled_; }
    bool isTicking() const { return fd_ >= 0 ? armed_ : timer_.isActive(); }
    void setInterval(int ms);
    void setEnabled(bool on);

    std::function<void()> onTimer;

private:
    void apply();
    void makeKernelTimer();
    void tick();
    void kernelTick();

    QTimer timer_;
    int fd_ = -1;  // the kernel timer, when there is one
    QSocketNotifier* notifier_ = nullptr;
    bool wantKernelTimer_ = false;
    bool armed_ = false;
    bool inTick_ = false;
    int interval_;
    bool enabled_;
};
