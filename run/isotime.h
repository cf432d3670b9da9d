// The one form every time stamp the program writes takes: ISO 8601 local
// time with milliseconds and the offset in force then ("Z" for UTC), so a
// stamp read anywhere names one instant.
#pragma once

#include <QDateTime>
#include <QString>

inline QString isoTime(const QDateTime& t)
{
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs) : QString();
}
