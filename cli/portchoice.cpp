#include "cli/portchoice.h"

#include "link/qtport.h"
#include "sim/builtinport.h"

#include <QFile>
#include <QFileInfo>

namespace cli {

namespace {

// Far more than a day of commands, and little memory.
constexpr qint64 MaxScriptBytes = 4 * 1024 * 1024;

QString scriptOf(const QString& device)
{
    return device.mid(BuiltInDevice.size() + 1);
}

}  // namespace

bool isBuiltInDevice(const QString& device)
{
    return device == BuiltInDevice || device.startsWith(BuiltInDevice + QLatin1Char(':'));
}

std::unique_ptr<CommPort> makePort(const QString& device, const QString& programDir, QString* why,
                                   const std::map<int, QString>& bound)
{
    if (!isBuiltInDevice(device)) {
        auto port = std::make_unique<QtPort>(programDir);
        port->setDeviceOverride(device);
        port->setPortBindings(bound);
        return port;
    }
    sim::BuiltInOptions o;
    if (device != BuiltInDevice) {
        // With a script the notes are the script's; its "auto" turns the
        // automatic ones on.
        o.autoNotes = false;
        const QString path = scriptOf(device);
        // Only a regular file of a sensible size: a FIFO could hold the
        // start for ever, and a device could fill the memory.
        const QFileInfo info(path);
        if (!info.isFile()) {
            *why = QStringLiteral("--device: the script %1 is no file").arg(path);
            return nullptr;
        }
        if (info.size() > MaxScriptBytes) {
            *why = QStringLiteral("--device: the script %1 is larger than %2 bytes").arg(path).arg(MaxScriptBytes);
            return nullptr;
        }
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("--device: cannot read the script %1: %2").arg(path, f.errorString());
            return nullptr;
        }
        QString error;
        const auto steps = sim::parseScript(QString::fromLocal8Bit(f.read(MaxScriptBytes)), &error);
        if (!steps) {
            *why = QStringLiteral("--device: %1: %2").arg(path, error);
            return nullptr;
        }
        o.script = *steps;
    }
    return std::make_unique<sim::BuiltInPort>(std::move(o));
}

}  // namespace cli
