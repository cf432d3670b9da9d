// The trace history from the window: fed from the session's reports since
// the window opened, shown in its own window on F3 or from the panes' menu.
#include "tester/historymodel.h"
#include "tester/historywindow.h"
#include "tester/main64k.h"

#include <QShortcut>

void MAIN64K::setUpHistory()
{
    history_ = new TraceHistory(TraceHistory::DefaultLimit, this);
    PollSession* s = session_.get();
    connect(s, &PollSession::messageSent, history_, [this, s](const frames::HostMessage& m, bool repeated) {
        if (!m.isEmpty())  // nothing went on the line
            history_->addHost(s->lastWriteNs(), m, repeated);
    });
    connect(s, &PollSession::noResponse, history_, [this, s] { history_->addTimeout(s->lastWriteNs()); });
    connect(s, &PollSession::replyChecked, history_,
            [this, s](const frames::ValidatorReply& reply, bool good, const frames::StatusDecoding& d) {
                history_->addReply(s->lastReadNs(), reply, good, d);
            });
    connect(s, &PollSession::bytesDiscarded, history_,
            [this, s](const QByteArray& bytes) { history_->addDiscarded(s->clockNs(), bytes); });
    connect(s, &PollSession::portFailed, history_, [this, s](int number) { history_->addError(s->clockNs(), number); });
    connect(s, &PollSession::started, history_, [this, s] {
        history_->addOperator(s->clockNs(), QStringLiteral("polling started, %1").arg(pollModeCaption(s->mode())));
    });
    for (auto stop : {&PollSession::stopped, &PollSession::suspended})
        connect(s, stop, history_, [this, s] { history_->addOperator(s->clockNs(), QStringLiteral("polling stopped")); });
    connect(s, &PollSession::modeChanged, history_, [this, s](PollMode mode) {
        history_->addOperator(s->clockNs(), QStringLiteral("mode %1").arg(pollModeCaption(mode)));
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
