#include "bench/programstart.h"

#include "bench/benchtable.h"
#include "settings/settings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

namespace bench {

StartResult startUps(const QString& program, int runs)
{
    StartResult out;
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("pollbench"));
    if (!QFile::copy(program, copy)) {
        out.ok = false;
        return out;
    }
    settings::writeSettingsFile(settings::settingsPath(dir.path()), settings::SavedSettings{});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{time boot} %{category} %{message}"));
    for (int i = 0; i <= runs; ++i) {  // the first run only warms the caches
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setReadChannel(QProcess::StandardError);
        const double t0 = nowSeconds();
        p.start(copy, {});
        double shown = -1;
        QByteArray pending;
        QElapsedTimer t;
        t.start();
        while (shown < 0 && t.elapsed() < WaitMs && p.waitForReadyRead(WaitMs)) {
            pending += p.readAllStandardError();
            qsizetype nl;
            while (shown < 0 && (nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.contains("Flushing QRegion(") && line.contains(" of MAIN64K("))
                    shown = line.trimmed().split(' ').first().toDouble();
            }
        }
        if (shown < 0) {
            out.ok = false;
        } else if (i > 0) {
            out.seconds.push_back(shown - t0);
            out.hwmKb = std::max(out.hwmKb, statusKb(QString::number(p.processId()), "VmHWM:"));
        }
        p.kill();
        p.waitForFinished();
    }
    return out;
}

}  // namespace bench
