// What the poll session reports, each thing once, as a value that carries
// all a consumer needs: the window, the figures, the record and an
// unattended run read these and never the session's state.
#pragma once

#include "link/frames.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>

// A message went out on the line.
struct SentMessage {
    frames::HostMessage message;
    bool repeated = false;          // the last message again, not a new one
    bool previousAnswered = false;  // the message before it drew a good reply
    std::int64_t writeNs = 0;       // the session's clock as it was written
};

// A reply that began with STX, read and checked.
struct CheckedReply {
    frames::ValidatorReply reply;
    bool checksumOk = false;
    // The message on the line has a good reply now (this one or one before it).
    bool messageAnswered = false;
    // The status as the window shows it: texts persist across replies.
    frames::StatusDecoding decoding;
    // This reply's own event, empty when it reports none; unlike the
    // decoding's text it does not persist.
    QString replyEventText;
    std::int64_t readNs = 0;
    std::int64_t sinceWriteNs = 0;  // since the last message was written
};

Q_DECLARE_METATYPE(SentMessage)
Q_DECLARE_METATYPE(CheckedReply)
