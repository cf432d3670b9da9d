#include "settings/settings.h"

#include "settings/decimal.h"
#include "files/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

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

namespace {

// Whether a file can be made in dir. Windows grants that through access
// lists a folder's attributes do not show (Program Files reads as writable
// to a user who cannot write there), so there a file is made and dropped.
bool canWriteIn(const QString& dir)
{
#ifdef Q_OS_WIN
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral("pollbench-XXXXXX.tmp")));
    return probe.open();
#else
    return QFileInfo(dir).isWritable();
#endif
}

}  // namespace

Location locateSettings(const QString& programDir, const QString& userDir)
{
    const QString beside = settingsPath(programDir);
    // A save writes a new copy beside the file and renames it, so it is the
    // directory that must be writable.
    if (userDir.isEmpty() || canWriteIn(programDir))
        return {beside, beside};
    const QString own = settingsPath(userDir);
    const QFileInfo ownInfo(own);
    if (ownInfo.exists() || ownInfo.isSymLink())
        return {own, own};
    const QFileInfo besideInfo(beside);
    if (inspectPath(beside).kind == PathKind::Regular && besideInfo.isReadable())
        return {own, beside};
    return {own, own};
}

Location locateSettings(const QString& programDir)
{
#ifdef Q_OS_WIN
    // %APPDATA%\pollbench: the roaming profile, where Windows programs keep what the user set.
    const auto userFolder = QStandardPaths::AppDataLocation;
#else
    const auto userFolder = QStandardPaths::AppConfigLocation;
#endif
    return locateSettings(programDir, QStandardPaths::writableLocation(userFolder));
}

QByteArray readFileBytes(const QString& path)
{
    const PathState state = inspectPath(path);
    if (state.kind == PathKind::Other)
        throw NotRegularFile(state.why.toStdString());
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError("cannot open " + path.toStdString() + ": " + f.errorString().toStdString());
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError("cannot read " + path.toStdString() + ": " + f.errorString().toStdString());
    return bytes;
}

QString settingsText(const QByteArray& bytes)
{
    QString text = QString::fromLatin1(bytes);
    if (!text.contains(QLatin1StringView("\r\n"))) {
        if (text.contains(QLatin1Char('\n')))
            text.replace(QLatin1Char('\n'), QLatin1StringView("\r\n"));
        else
            text.replace(QLatin1Char('\r'), QLatin1StringView("\r\n"));
    }
    return text;
}

QString readWholeFile(const QString& path)
{
    return settingsText(readFileBytes(path));
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

void replaceWhole(const QString& path, const QByteArray& bytes)
{
    const QString refused = files::whyNotWritable(path);
    if (!refused.isEmpty())
        throw NotRegularFile(refused.toStdString());
    // The user's own settings folder does not exist before the first save.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString why;
    if (!files::replaceWhole(path, bytes, &why))
        throw FileError(why.toStdString());
    files::removeLeftCopies(path);
}

namespace {

// Past this many copies something else is wrong; the save is not held up
// by a search through them all.
constexpr int MaxDamagedCopies = 1000;

}  // namespace

void writeSettingsFile(const QString& path, const SavedSettings& s)
{
    replaceWhole(path, settingsFileBytes(s));
}

bool saveLosesValues(const QByteArray& asFound, const SavedSettings& asLoaded)
{
    const QList<QByteArray> saved = settingsFileBytes(asLoaded).split('\n');
    QString text = settingsText(asFound);
    // Read as the load reads it: each line up to its CR LF, the last one
    // also without.
    for (int line = 0; !text.isEmpty(); ++line) {
        if (line >= LineCount)
            return true;  // lines the save does not write
        const qsizetype end = text.indexOf(QLatin1StringView("\r\n"));
        const QString found = end < 0 ? text : text.left(end);
        if (found.toLatin1() != saved[line].chopped(1))  // without its CR
            return true;
        text = end < 0 ? QString() : text.mid(end + 2);
    }
    return false;
}

QString damagedCopyPath(const QString& path)
{
    return path + QStringLiteral(".bak");
}

QString keepDamagedCopy(const QString& path, const QByteArray& asFound)
{
    const QString first = damagedCopyPath(path);
    for (int n = 0; n < MaxDamagedCopies; ++n) {
        const QString name = n == 0 ? first : QStringLiteral("%1.%2").arg(first).arg(n);
        bool taken = false;
        QString why;
        if (files::writeNew(name, asFound, &why, &taken))
            return name;
        if (!taken)
            throw FileError(why.toStdString());
    }
    throw FileError(QStringLiteral("%1 to %1.%2 are all taken").arg(first).arg(MaxDamagedCopies - 1).toStdString());
}

}  // namespace settings
