// The trace panes as text: copied to the clipboard or saved to a file.
#include "tester/main64k.h"

#include <QSaveFile>

QRect MAIN64K::traceArea() const
{
    QRect area;
    for (int k = 0; k < TraceRows; ++k)
        area = area.united(Label18[k]->geometry()).united(Label20[k]->geometry());
    return area;
}

QString MAIN64K::traceText() const
{
    QString text;
    for (int k = 0; k < TraceRows; ++k) {
        const QString host = Label18[k]->caption();
        const QString reply = Label20[k]->caption();
        if (host.isEmpty() && reply.isEmpty())
            continue;
        text += (host.leftJustified(32) + reply).trimmed() + QLatin1Char('\n');
    }
    return text;
}

bool MAIN64K::saveTrace(const QString& path, QString* error) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) || f.write(traceText().toUtf8()) < 0 || !f.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}
