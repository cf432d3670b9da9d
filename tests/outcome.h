// How a program run by a test ended: its exit status and what it said.
#pragma once

#include <QProcess>
#include <QString>

struct Outcome {
    int status = -1;  // -1: crashed or did not end
    QString out;
    QString err;
};

// Waits for the end, killing a program that does not get there; generous
// for a loaded machine.
inline Outcome finished(QProcess& p, int timeoutMs = 60000)
{
    Outcome o;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        o.status = p.exitCode();
    }
    o.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(p.readAllStandardError());
    return o;
}
