// --record FILE in an unattended run: every event of the poll session to a
// CSV record, appended to when the file exists. (The window keeps a record of
// its own, started from its menu or from the same option.)
#pragma once

#include <QString>

class PollSession;
class QObject;
class SessionRecord;

namespace cli {

// The record lives as long as owner and is closed with it. Null, with why,
// when it cannot be started.
SessionRecord* startRecording(PollSession& session, const QString& path, QObject* owner, QString* why);
// Ends the records owned by owner: the "record stopped" row and the summary
// beside the record.
void stopRecording(QObject* owner);

}  // namespace cli
