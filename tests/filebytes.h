// A file's bytes read or written whole, for tests that look at what the
// program left on disk.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// "(missing)" when the file cannot be read, so a comparison names it.
inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
