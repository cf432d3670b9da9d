#include "settings/settings.h"

#include "settings/decimal.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace settings {

const std::array<QLatin1StringView, LineCount> KeyPrefixes{{
    QLatin1StringView("Sys.Color   = "),   QLatin1StringView("Com.Setting = "),
    QLatin1StringView("Poll.Rate   = "),   QLatin1StringView("1st.Value   = "),
    QLatin1StringView("2nd.Value   = "),   QLatin1StringView("3rd.Value   = "),
    QLatin1StringView("4th.Value   = "),   QLatin1StringView("5th.Value   = "),
    QLatin1StringView("6th.Value   = "),   QLatin1StringView("7th.Value   = "),
    QLatin1StringView("1st.Check   = "),   QLatin1StringView("2nd.Check   = "),
    QLatin1StringView("3rd.Check   = "),   QLatin1StringView("4th.Check   = "),
    QLatin1StringView("5th.Check   = "),   QLatin1StringView("6th.Check   = "),
    QLatin1StringView("7th.Check   = "),   QLatin1StringView("8th.Check   = "),
    QLatin1StringView("9th.Check   = "),   QLatin1StringView("10th.Check   = "),
    QLatin1StringView("11th.Check   = "),  QLatin1StringView("12th.Check   = "),
    QLatin1StringView("13th.Check   = "),
}};

QString settingsPath(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("SETUP.INI"));
}

QString readWholeFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError("cannot open " + path.toStdString() + ": " + f.errorString().toStdString());
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError("cannot read " + path.toStdString() + ": " + f.errorString().toStdString());
    return QString::fromLatin1(bytes);
}

QString NextSettingValue(QString& settingsText)
{
    // Positions are 1-based and held in 16 bits, as the file format has
    // always been read.
    const qsizetype p = settingsText.indexOf(QLatin1Char('=')) + 1;
    const qsizetype s = p + 2;
    if (s > 32767)
        throw SettingsError("settings line too long");
    const qsizetype e = settingsText.indexOf(QLatin1StringView("\r\n")) + 1;
    if (e > 32767)
        throw SettingsError("settings line too long");
    const qsizetype n = e - s;
    if (n < 0)
        throw SettingsError("settings line without a value");
    QString value = settingsText.mid(s - 1, n);
    settingsText = settingsText.right(settingsText.size() - e - 1);
    return value;
}

LoadedSettings parseSettings(QString& text)
{
    LoadedSettings r;
    int line = 0;
    try {
        line = 1;
        if (!toInt16(NextSettingValue(text)))
            throw SettingsError("display scheme is not a number");
        line = 2;
        const auto port = toInt16(NextSettingValue(text));
        if (!port)
            throw SettingsError("port is not a number");
        r.comPort = *port;
        line = 3;
        r.pollRate = NextSettingValue(text);
        for (line = 4; line <= 10; ++line)
            if (!toInt32(NextSettingValue(text)))
                throw SettingsError("value line is not a number");
        for (line = 11; line <= LineCount; ++line) {
            const auto state = toInt16(NextSettingValue(text));
            if (!state || *state < 0 || *state > 2)
                throw SettingsError("channel state is not 0, 1 or 2");
            r.channels[line - 11] = *state;
        }
    } catch (const SettingsError& e) {
        r.failedLine = line;
        r.failure = QString::fromStdString(e.what());
    }
    return r;
}

std::int16_t firstValueAsScheme(QString settingsText)
{
    const auto v = toInt16(NextSettingValue(settingsText));
    if (!v)
        throw SettingsError("display scheme is not a number");
    return *v;
}

QByteArray settingsFileBytes(const SavedSettings& s)
{
    std::array<QString, LineCount> values;
    values[0] = QString::number(s.displayScheme);
    values[1] = QString::number(s.comPort);
    values[2] = s.pollRate.left(s.pollRate.indexOf(QLatin1StringView("\r\n")));
    for (int i = 0; i < 7; ++i)
        values[3 + i] = QString::number(i + 1);
    for (int i = 0; i < ChannelLines; ++i)
        values[10 + i] = QString::number(s.channels[i]);
    QByteArray out;
    out.reserve(400);
    for (int i = 0; i < LineCount; ++i) {
        out += QByteArray(KeyPrefixes[i].data(), KeyPrefixes[i].size());
        out += values[i].toLatin1();
        out += "\r\n";
    }
    return out;
}

void writeSettingsFile(const QString& path, const SavedSettings& s)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw FileError("cannot create " + path.toStdString() + ": " + f.errorString().toStdString());
    const QByteArray bytes = settingsFileBytes(s);
    // The buffer goes out here and not in commit(): commit() does not see a
    // short write at its own flush and would put a truncated file in place.
    if (f.write(bytes) != bytes.size() || !f.flush())
        throw FileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
    if (!f.commit())
        throw FileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
}

}  // namespace settings
