#include "cli/recording.h"

#include "run/record.h"

namespace cli {

SessionRecord* startRecording(PollSession& session, const QString& path, QObject* owner, QString* why)
{
    auto* record = new SessionRecord(session, owner);
    if (!record->start(path, true, why)) {
        delete record;
        return nullptr;
    }
    return record;
}

void stopRecording(QObject* owner)
{
    // Stopped while the session is still whole: the last rows and the
    // summary need it.
    for (SessionRecord* record : owner->findChildren<SessionRecord*>(Qt::FindDirectChildrenOnly))
        delete record;
}

}  // namespace cli
