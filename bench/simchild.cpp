#include "bench/simchild.h"

#include "bench/benchtable.h"

#include <QElapsedTimer>
#include <QFile>

namespace bench {

std::vector<LogFrame> readLog(const QString& path)
{
    std::vector<LogFrame> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> p = line.split(' ');
        if (p.size() < 5 || p[1].size() != 1)
            continue;
        LogFrame fr{p[0].toDouble(), p[1][0]};
        if (fr.dir != 'H' && fr.dir != 'V')
            continue;
        fr.control = p[4].toInt(nullptr, 16);  // time, direction, STX, length, control
        // The simulator notes after " ; " what it spoiled on purpose; none is asked for here.
        fr.goodReply = fr.dir == 'V' && p.size() == 2 + 11 && !line.contains(';');
        out.push_back(fr);
    }
    return out;
}

bool Sim::start(const QString& program, const QString& link, const QString& log)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {QStringLiteral("--link"), link, QStringLiteral("--log"), log, QStringLiteral("--no-stdin")});
    if (!process.waitForStarted(WaitMs))
        return false;
    QElapsedTimer t;
    t.start();
    while (!said_.contains("ready ") && t.elapsed() < WaitMs && process.waitForReadyRead(WaitMs))
        said_ += process.readAllStandardOutput();
    return said_.contains("ready ");
}

void Sim::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(WaitMs)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace bench
