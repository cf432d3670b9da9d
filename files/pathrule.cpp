#include "files/pathrule.h"

#include <QDir>
#include <QFileInfo>

namespace files {

namespace {

// As far as a system follows links before it gives up on a loop.
constexpr int MaxLinkDepth = 40;

}  // namespace

PathState inspectPath(const QString& path)
{
    // Follow the links one at a time, as far as a system would.
    QString at = path;
    for (int depth = 0; QFileInfo(at).isSymLink(); ++depth) {
        if (depth == MaxLinkDepth)
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

QString whyNotWritable(const QString& path)
{
    const PathState state = inspectPath(path);
    return state.kind == PathKind::Other ? state.why : QString();
}

bool samePlace(const QString& a, const QString& b)
{
    // The file may not exist yet: its folder is resolved instead, and the
    // names compared there.
    auto resolved = [](const QString& path) {
        const QFileInfo target(inspectPath(path).target);
        const QString folder = QFileInfo(target.absolutePath()).canonicalFilePath();
        return QDir::cleanPath((folder.isEmpty() ? target.absolutePath() : folder) + QLatin1Char('/') +
                               target.fileName());
    };
    const QString ra = resolved(a);
    const QString rb = resolved(b);
#ifdef Q_OS_WIN
    return ra.compare(rb, Qt::CaseInsensitive) == 0;
#else
    return ra == rb;
#endif
}

}  // namespace files
