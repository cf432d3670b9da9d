// Closes modal boxes as they open, through the widget tree, and remembers
// what they said; a test that meets a box never hangs on it.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <ctime>
#include <vector>

class ModalCloser : public QObject {
public:
    QStringList titles;
    QStringList texts;
    // With a hold time: the processor time this process spent while each box
    // was up, in milliseconds.
    std::vector<double> cpuMsWhileUp;

    // holdMs: how long each box stays up before it is closed; 0 closes it at once.
    explicit ModalCloser(int holdMs = 0) : holdMs_(holdMs)
    {
        timer_.setInterval(holdMs > 0 ? 50 : 5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (holdMs_ > 0) {
                if (box != up_) {
                    up_ = box;
                    since_.start();
                    cpuAtShow_ = processCpuMs();
                    return;
                }
                if (since_.elapsed() < holdMs_)
                    return;
                cpuMsWhileUp.push_back(processCpuMs() - cpuAtShow_);
                up_ = nullptr;
            }
            titles << box->windowTitle();
            texts << box->text();
            box->done(QMessageBox::Ok);
        });
        timer_.start();
    }
    int count() const { return int(texts.size()); }

private:
    static double processCpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
    }

    QTimer timer_;
    int holdMs_;
    QPointer<QMessageBox> up_;
    QElapsedTimer since_;
    double cpuAtShow_ = 0;
};
