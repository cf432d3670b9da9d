#include "cli/recording.h"

namespace cli {

// TODO(--record): attach the session record (SessionRecord, link/record.h)
// here once it is in this tree:
//     auto* record = new SessionRecord(session, owner);
//     if (!record->start(path, true, why)) { delete record; return false; }
//     return true;
// Until then a record asked for is refused rather than silently not kept.
bool startRecording(PollSession& session, const QString& path, QObject* owner, QString* why)
{
    Q_UNUSED(session);
    Q_UNUSED(owner);
    if (why)
        *why = QStringLiteral("cannot record to %1: recording the line is not in this build yet").arg(path);
    return false;
}

}  // namespace cli
