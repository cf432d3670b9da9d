// Which paths the program may write to. Every file it writes (the settings,
// a record, a record's summary, a run's report) passes this rule first, so
// that a device, a FIFO or a link that loops is never opened, let alone
// replaced by a regular file.
#pragma once

#include <QString>

namespace files {

// What stands at a path once links are followed, found without opening it:
// opening a FIFO blocks, and reading a device may never end.
enum class PathKind { Missing, Regular, Other };
struct PathState {
    PathKind kind = PathKind::Missing;
    QString target;  // where the links lead; the path itself when it is none
    QString why;     // for Other: what it is, as the operator is told
};
PathState inspectPath(const QString& path);

// Empty when path may be written: a regular file, or nothing yet (links
// followed). Otherwise why not, as one line for the operator.
QString whyNotWritable(const QString& path);

// Whether two paths name one file once links are followed (the folders
// too), whether or not it exists yet.
bool samePlace(const QString& a, const QString& b);

}  // namespace files
