// One unattended run: the poll session, its figures and its record, from the
// first poll to the summary or the report.
#pragma once

#include "cli/options.h"
#include "cli/runreport.h"
#include "cli/stoprequests.h"
#include "link/pollsession.h"
#include "run/runstats.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace cli {

class Run : public QObject {
public:
    // port: the one the run polls (see makePort).
    Run(const Options& options, const RunSetup& setup, const QString& programDir, std::unique_ptr<CommPort> port);
    ~Run() override;

    // False, with why, when the run cannot begin.
    bool begin(QString* why);
    int status() const { return status_; }

private:
    ConditionCounts counts() const;
    QString deviceShown() const;
    void armEnd();
    void progressTick();
    void finishSoon(const QString& why);
    void finish(const QString& why);
    void close();
    bool writeReport(const RunEnd& end, QString* why) const;
    void tellBetweenProgress(const QString& text);

    const Options& options_;
    RunSetup setup_;
    QString programDir_;
    std::unique_ptr<PollSession> session_;
    std::unique_ptr<RunStatistics> stats_;
    StopRequests stops_;
    QTimer endTimer_;
    QTimer progressTimer_;
    QElapsedTimer clock_;
    QDateTime ended_;
    QString endedBy_;
    QString recordError_;   // why the record stopped early
    QString summaryError_;  // why the record's summary was not written
    bool onTerminal_ = false;
    bool progressShown_ = false;
    qsizetype lastWidth_ = 0;
    qint64 ticks_ = 0;
    int portError_ = 0;
    bool answered_ = true;  // the last message drew a good reply (none sent yet counts as answered)
    qint64 powerUpsAtStart_ = -1;  // power-ups counted by the first good reply; -1 before it
    bool stopping_ = false;
    bool finished_ = false;
    int status_ = ExitCompleted;
};

}  // namespace cli
