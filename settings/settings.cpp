#include "settings/settings.h"

#include "settings/decimal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

PathState inspectPath(const QString& path)
{
    // Follow the links one at a time, as far as a system would.
    QString at = path;
    for (int depth = 0; QFileInfo(at).isSymLink(); ++depth) {
        if (depth == 40)
            return {PathKind::Other, at, path + QStringLiteral(" is a link that loops")};
        at = QFileInfo(at).symLinkTarget();
    }
    const QFileInfo found(at);
    if (!found.exists())
        return {PathKind::Missing, at, {}};
    if (found.isFile())
        return {PathKind::Regular, at, {}};
    const QString what = found.isDir() ? QStringLiteral("a folder") : QStringLiteral("not a regular file");
    if (at == path)
        return {PathKind::Other, at, QStringLiteral("%1 is %2").arg(path, what)};
    return {PathKind::Other, at, QStringLiteral("%1 leads to %2, which is %3").arg(path, at, what)};
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

namespace {

// A copy a killed save left: the file's name, a dot and six letters or digits.
bool isSaveCopyName(const QString& name, const QString& fileName)
{
    if (name.size() != fileName.size() + 7 || !name.startsWith(fileName + QLatin1Char('.')))
        return false;
    for (qsizetype i = fileName.size() + 1; i < name.size(); ++i)
        if (!name[i].isLetterOrNumber() || name[i].unicode() > 127)
            return false;
    return true;
}

// An hour leaves alone the copy of a save another running copy of the
// program may be making right now.
void removeStaleCopies(const QString& target)
{
    const QFileInfo file(target);
    const QDateTime cutOff = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QFileInfoList candidates = QDir(file.absolutePath())
                                         .entryInfoList({file.fileName() + QStringLiteral(".??????")},
                                                        QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& c : candidates)
        if (isSaveCopyName(c.fileName(), file.fileName()) && c.lastModified().toUTC() < cutOff)
            QFile::remove(c.absoluteFilePath());
}

}  // namespace

void replaceWhole(const QString& path, const QByteArray& bytes)
{
    const PathState state = inspectPath(path);
    if (state.kind == PathKind::Other)
        throw NotRegularFile(state.why.toStdString());
    // The user's own settings folder does not exist before the first save.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw FileError("cannot create " + path.toStdString() + ": " + f.errorString().toStdString());
    // The buffer goes out here and not in commit(): commit() does not see a
    // short write at its own flush and would put a truncated file in place.
    if (f.write(bytes) != bytes.size() || !f.flush())
        throw FileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
    if (!f.commit())
        throw FileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
    removeStaleCopies(state.target);
}

void writeSettingsFile(const QString& path, const SavedSettings& s)
{
    replaceWhole(path, settingsFileBytes(s));
}

QString damagedCopyPath(const QString& path)
{
    return path + QStringLiteral(".bak");
}

void keepDamagedCopy(const QString& path, const QByteArray& asFound)
{
    replaceWhole(damagedCopyPath(path), asFound);
}

}  // namespace settings
