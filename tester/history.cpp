// The trace history from the window: fed from the session's reports since
// the window opened, shown in its own window on F3 or from the panes' menu.
#include "tester/historymodel.h"
#include "tester/historywindow.h"
#include "tester/main64k.h"

#include <QShortcut>

void MAIN64K::setUpHistory()
{
    history_ = new TraceHistory(TraceHistory::DefaultLimit, this);
    // Every row takes its time from the report itself: the same clock and
    // the same instants as the record's rows.
    PollSession* s = session_.get();
    connect(s, &PollSession::messageSent, history_, [this](const SentMessage& m) {
        if (!m.message.isEmpty())  // nothing went on the line
            history_->addHost(m.writeNs, m.message, m.repeated);
    });
    connect(s, &PollSession::noResponse, history_, [this](std::int64_t ns) { history_->addTimeout(ns); });
    connect(s, &PollSession::replyChecked, history_, [this](const CheckedReply& c) {
        history_->addReply(c.readNs, c.reply, c.checksumOk, c.decoding);
    });
    connect(s, &PollSession::bytesDiscarded, history_,
            [this](const QByteArray& bytes, std::int64_t ns) { history_->addDiscarded(ns, bytes); });
    connect(s, &PollSession::portFailed, history_,
            [this](int number, std::int64_t ns) { history_->addError(ns, number); });
    connect(s, &PollSession::started, history_, [this](PollMode mode, std::int64_t ns) {
        history_->addOperator(ns, QStringLiteral("polling started, %1").arg(pollModeCaption(mode)));
    });
    for (auto stop : {&PollSession::stopped, &PollSession::suspended})
        connect(s, stop, history_,
                [this](std::int64_t ns) { history_->addOperator(ns, QStringLiteral("polling stopped")); });
    connect(s, &PollSession::modeChanged, history_, [this](PollMode mode, std::int64_t ns) {
        history_->addOperator(ns, QStringLiteral("mode %1").arg(pollModeCaption(mode)));
    });
    auto* key = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(key, &QShortcut::activated, this, [this] { showHistory(); });
}

HistoryWindow* MAIN64K::showHistory()
{
    if (!historyWindow_) {
        // Its own top-level window, closed with this one.
        historyWindow_ = new HistoryWindow(*history_, this);
        historyWindow_->setWindowIcon(windowIcon());
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
    return historyWindow_;
}
