#include "settings/benchfile.h"

#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>

namespace settings {

namespace {

const QLatin1StringView PortKey("Port.");
const QLatin1StringView RecordFolderKey("Record.Folder");

}  // namespace

QString benchFilePath(const QString& settingsFilePath)
{
    return QFileInfo(settingsFilePath).dir().filePath(QStringLiteral("BENCH.INI"));
}

BenchChoices readBenchFile(const QString& path)
{
    BenchChoices c;
    if (inspectPath(path).kind == PathKind::Missing)
        return c;
    const QString text = QString::fromUtf8(readFileBytes(path));
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? QString() : line.left(eq).trimmed();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        if (key.startsWith(PortKey) && !value.isEmpty()) {
            bool ok = false;
            const int number = key.mid(PortKey.size()).toInt(&ok);
            if (ok && number >= 1 && !c.ports.count(number)) {
                c.ports[number] = value;
                continue;
            }
        } else if (key == RecordFolderKey && c.recordFolder.isEmpty()) {
            c.recordFolder = value;
            continue;
        }
        c.otherLines << line;
    }
    return c;
}

PortBindings readPortBindings(const QString& path, QString* problem)
{
    problem->clear();
    try {
        return readBenchFile(path).ports;
    } catch (const std::exception& e) {
        *problem = QString::fromStdString(e.what());
        return {};
    }
}

QByteArray benchFileBytes(const BenchChoices& c)
{
    QString text;
    for (const auto& [number, device] : c.ports)
        text += QStringLiteral("%1%2 = %3\r\n").arg(PortKey).arg(number).arg(device);
    if (!c.recordFolder.isEmpty())
        text += QStringLiteral("%1 = %2\r\n").arg(RecordFolderKey, c.recordFolder);
    for (const QString& line : c.otherLines)
        text += line + QStringLiteral("\r\n");
    return text.toUtf8();
}

void writeBenchFile(const QString& path, const BenchChoices& c)
{
    replaceWhole(path, benchFileBytes(c));
}

void bindPort(const QString& path, int number, const QString& device)
{
    BenchChoices c = readBenchFile(path);
    const QString clean = device.trimmed();
    // It would start a line of its own in the file.
    if (clean.contains(QLatin1Char('\n')) || clean.contains(QLatin1Char('\r')))
        throw SettingsError("a device name cannot hold a line break");
    if (clean.isEmpty())
        c.ports.erase(number);
    else
        c.ports[number] = clean;
    writeBenchFile(path, c);
}

void rememberRecordFolder(const QString& path, const QString& folder)
{
    BenchChoices c = readBenchFile(path);
    if (c.recordFolder == folder || folder.contains(QLatin1Char('\n')) || folder.contains(QLatin1Char('\r')))
        return;
    c.recordFolder = folder;
    writeBenchFile(path, c);
}

}  // namespace settings
