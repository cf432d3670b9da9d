#include "cli/recording.h"

#include "run/record.h"

namespace cli {

bool startRecording(PollSession& session, const RunStatistics& statistics, const QString& path, QObject* owner,
                    QString* why)
{
    auto* record = new SessionRecord(session, statistics, owner);
    if (!record->start(path, true, why)) {
        delete record;
        return false;
    }
    return true;
}

void stopRecording(QObject* owner)
{
    // Stopped while the session is still whole: the last rows and the
    // summary need it.
    for (SessionRecord* record : owner->findChildren<SessionRecord*>(Qt::FindDirectChildrenOnly))
        delete record;
}

}  // namespace cli
