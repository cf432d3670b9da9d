// SETUP.INI as a first run leaves it, and variations on it, as text or bytes.
#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

// The file a first run leaves behind, line by line.
inline const QStringList DefaultLines = {
    "Sys.Color   = 1",  "Com.Setting = 1",  "Poll.Rate   = 100", "1st.Value   = 1",  "2nd.Value   = 2",
    "3rd.Value   = 3",  "4th.Value   = 4",  "5th.Value   = 5",   "6th.Value   = 6",  "7th.Value   = 7",
    "1st.Check   = 1",  "2nd.Check   = 1",  "3rd.Check   = 1",   "4th.Check   = 1",  "5th.Check   = 1",
    "6th.Check   = 1",  "7th.Check   = 1",  "8th.Check   = 0",   "9th.Check   = 0",  "10th.Check   = 0",
    "11th.Check   = 0", "12th.Check   = 0", "13th.Check   = 0",
};

// The default lines with some replaced: {line number, new text}.
inline QStringList withLines(std::initializer_list<std::pair<int, QString>> changes)
{
    QStringList l = DefaultLines;
    for (const auto& [line, text] : changes)
        l[line - 1] = text;
    return l;
}

// The lines as file text, each ended by `end`.
inline QString iniText(const QStringList& lines, const char* end = "\r\n")
{
    QString s;
    for (const QString& l : lines)
        s += l + QLatin1String(end);
    return s;
}

// ... and as the bytes on disk.
inline QByteArray iniBytes(const QStringList& lines, const char* end = "\r\n")
{
    return iniText(lines, end).toLatin1();
}
