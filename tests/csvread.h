// A record read back as RFC 4180 says: quoted fields, doubled quotes, line
// breaks inside quotes, CRLF between records.
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

inline std::vector<QStringList> parseCsv(const QString& text)
{
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
            any = true;
        } else if (c == u',') {
            row << field;
            field.clear();
            any = true;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            row << field;
            rows.push_back(row);
            row.clear();
            field.clear();
            any = false;
            ++i;
        } else {
            field += c;
            any = true;
        }
    }
    if (any) {
        row << field;
        rows.push_back(row);
    }
    return rows;
}

inline std::vector<QStringList> readCsv(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return parseCsv(QString::fromUtf8(f.readAll()));
}

// Column numbers of a record row.
namespace col {
enum { Time, Ms, Dir, Bytes, Request, State, Event, Channel, Checksum, Note, Count };
}
