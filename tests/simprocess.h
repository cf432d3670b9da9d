// The virtual validator program as a child process of a test, and its frame
// log read back.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <ctime>
#include <functional>
#include <vector>

#ifndef SIM_PATH
#error "SIM_PATH names the simulator program"
#endif

// Microseconds of the monotonic clock, the time base of the frame log.
inline qint64 monotonicMicros()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// Runs the event loop until done() holds or timeoutMs pass. QTest::qWait and
// qWaitFor sleep 10 ms between their turns, so a reply waits for the next
// turn and every time measured meanwhile grows by up to 10 ms; this loop
// blocks in the event loop and handles each arrival at once.
inline bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

class SimProcess {
public:
    static constexpr int Long = 15000;  // ms; generous for a loaded machine

    QProcess process;
    QString said;
    bool keepErrors = false;  // collect standard error in complained instead of passing it on
    QString complained;

    bool start(const QString& link, const QStringList& extra = {})
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { said += QString::fromLocal8Bit(process.readAllStandardOutput()); });
        if (keepErrors)
            QObject::connect(&process, &QProcess::readyReadStandardError,
                             [this] { complained += QString::fromLocal8Bit(process.readAllStandardError()); });
        process.setProcessChannelMode(keepErrors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(SIM_PATH), QStringList{QStringLiteral("--link"), link} + extra);
        if (!process.waitForStarted(Long))
            return false;
        return QTest::qWaitFor([&] { return said.contains(QStringLiteral("ready ") + link); }, Long);
    }
    void send(const QString& command) { process.write((command + QLatin1Char('\n')).toLocal8Bit()); }
    bool saw(const QString& line) const { return said.contains(line + QLatin1Char('\n')); }
    int linesStartingWith(const QString& prefix) const
    {
        int n = 0;
        for (const QString& l : said.split(QLatin1Char('\n')))
            n += l.startsWith(prefix);
        return n;
    }
    bool running() const { return process.state() == QProcess::Running; }
    // End of input ends the run.
    bool finish()
    {
        if (process.state() == QProcess::NotRunning)
            return true;
        process.closeWriteChannel();
        if (process.waitForFinished(Long))
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        process.kill();
        process.waitForFinished();
        return false;
    }
};

// One line of the frame log: "12.345678 H 02 08 ... ; note".
struct LogLine {
    qint64 us = 0;
    char dir = 0;  // H host frame, V a write of the validator, X host bytes that are no frame
    QByteArray bytes;
    QString note;
};

inline std::vector<LogLine> readFrameLog(const QString& path)
{
    std::vector<LogLine> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        if (raw.isEmpty())
            continue;
        const QString line = QString::fromLatin1(raw);
        const qsizetype semi = line.indexOf(QStringLiteral(" ; "));
        const QStringList words = (semi < 0 ? line : line.left(semi)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 2 || words[1].size() != 1)
            continue;
        LogLine l;
        const QStringList time = words[0].split(QLatin1Char('.'));
        l.us = time.value(0).toLongLong() * 1000000 + time.value(1).toLongLong();
        l.dir = words[1][0].toLatin1();
        for (qsizetype i = 2; i < words.size(); ++i)
            l.bytes.append(char(words[i].toInt(nullptr, 16)));
        if (semi >= 0)
            l.note = line.mid(semi + 3);
        out.push_back(l);
    }
    return out;
}
