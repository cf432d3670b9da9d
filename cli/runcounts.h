// What an unattended run counts of the line, from the poll session's
// reports: the progress line, the report and --fail-on read it.
#pragma once

#include "cli/options.h"
#include "link/pollsession.h"

#include <QJsonObject>
#include <QObject>

#include <array>
#include <map>

namespace cli {

class RunCounts : public QObject {
    Q_OBJECT
public:
    explicit RunCounts(PollSession& session, QObject* parent = nullptr);

    qint64 polls = 0;    // messages written
    qint64 repeats = 0;  // of those, the last message again
    qint64 goodReplies = 0;
    qint64 badChecksums = 0;
    qint64 timeouts = 0;  // messages that drew no good reply before the next poll
    std::map<int, qint64> stacked;  // by channel
    qint64 returned = 0;
    qint64 rejected = 0;
    // How often each condition of --fail-on was seen. An event counts once
    // per message, as the validator holds it until a new message
    // acknowledges it; a jam or a full stacker counts when it begins.
    std::array<qint64, ConditionCount> conditions{};

    qint64 stackedTotal() const;
    Conditions occurred() const;
    QJsonObject toJson() const;

private:
    void replyChecked(const frames::ValidatorReply& reply, bool checksumOk, const frames::StatusDecoding& decoding);

    qint64 messages_ = 0;  // new messages built
    std::array<bool, ConditionCount> seenForMessage_{};
    bool stackedForMessage_ = false;
    bool jammed_ = false;
    bool full_ = false;
};

}  // namespace cli
