#include "run/record.h"

#include "files/pathrule.h"
#include "files/wholefile.h"
#include "run/isotime.h"
#include "link/pollsession.h"
#include "run/figures.h"
#include "run/runstats.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const char* const Header = "time,ms,dir,bytes,request,state,event,channel,checksum,note\r\n";

}  // namespace

SessionRecord::SessionRecord(PollSession& session, QObject* parent) : QObject(parent), session_(session)
{
    connect(&session, &PollSession::messageSent, this, [this](const SentMessage& m) {
        if (!isRecording() || m.message.isEmpty())
            return;  // nothing went on the line
        Row r;
        r.ns = m.writeNs;
        r.dir = "host";
        r.bytes = frames::hexBytes(m.message.toByteArray());
        r.request = requestText(m.message);
        if (m.repeated)
            r.note = QStringLiteral("repeated");
        write(r);
    });
    connect(&session, &PollSession::noResponse, this, [this](std::int64_t ns) {
        if (!isRecording())
            return;
        // Known when the next message goes out, and stamped so.
        Row r;
        r.ns = ns;
        r.dir = "timeout";
        r.note = QStringLiteral("no response");
        write(r);
    });
    connect(&session, &PollSession::replyChecked, this, [this](const CheckedReply& c) {
        if (!isRecording())
            return;
        Row r;
        r.ns = c.readNs;
        r.dir = "validator";
        r.bytes = frames::hexBytes(c.reply.toByteArray());
        r.checksum = c.checksumOk ? QStringLiteral("ok") : QStringLiteral("bad");
        // Decoded only from a frame the validator vouches for whole.
        if (c.reply.isWholeFrame()) {
            r.state = c.decoding.stateText;
            // The event of this reply alone: one that persisted from an
            // earlier reply would count one note many times.
            r.event = c.replyEventText;
            r.channel = c.decoding.channelText.trimmed();
        } else if (c.checksumOk) {
            r.note = QStringLiteral("malformed");
        }
        write(r);
    });
    connect(&session, &PollSession::bytesDiscarded, this, [this](const QByteArray& bytes, std::int64_t ns) {
        if (!isRecording())
            return;
        Row r;
        r.ns = ns;
        r.dir = "discarded";
        r.bytes = frames::hexBytes(bytes);
        r.note = QStringLiteral("%1 bytes").arg(bytes.size());
        write(r);
    });
    connect(&session, &PollSession::portFailed, this, [this](int number, std::int64_t ns) {
        if (!isRecording())
            return;
        Row r;
        r.ns = ns;
        r.dir = "error";
        r.note = QString::number(number);
        write(r);
    });
    connect(&session, &PollSession::started, this, [this](PollMode mode, std::int64_t ns) {
        if (isRecording())
            operatorRow(QStringLiteral("polling started, %1").arg(pollModeCaption(mode)), ns);
    });
    connect(&session, &PollSession::stopped, this, [this](std::int64_t ns) {
        if (isRecording())
            operatorRow(QStringLiteral("polling stopped"), ns);
    });
    connect(&session, &PollSession::suspended, this, [this](std::int64_t ns) {
        if (isRecording())
            operatorRow(QStringLiteral("polling stopped"), ns);
    });
    connect(&session, &PollSession::modeChanged, this, [this](PollMode mode, std::int64_t ns) {
        if (isRecording())
            operatorRow(QStringLiteral("mode %1").arg(pollModeCaption(mode)), ns);
    });
}

SessionRecord::~SessionRecord()
{
    stop();
}

const char* SessionRecord::header()
{
    return Header;
}

QString SessionRecord::csvField(const QString& text)
{
    bool quote = false;
    for (QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote)
        return text;
    QString q = text;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString SessionRecord::requestText(const frames::HostMessage& m)
{
    QString r;
    switch (m.request()) {
    case frames::Request::Stack:
        r = QStringLiteral("stack");
        break;
    case frames::Request::Return:
        r = QStringLiteral("return");
        break;
    case frames::Request::Plain:
    case frames::Request::None:
        r = QStringLiteral("poll");
        break;
    }
    return r + (m.ackBit() ? QStringLiteral(" ack=1") : QStringLiteral(" ack=0"));
}

bool SessionRecord::start(const QString& path, bool append, QString* error)
{
    stop();
    auto fail = [this, error](const QString& why) {
        if (error)
            *error = why;
        lock_.reset();
        return false;
    };
    // A FIFO would hold the program at the open, before the first poll; a
    // device would take the rows as its input.
    if (const QString refused = files::whyNotWritable(path); !refused.isEmpty())
        return fail(refused);
    // Two runs appending to one file would cut each other's rows.
    lock_ = std::make_unique<QLockFile>(lockPath(files::inspectPath(path).target));
    lock_->setStaleLockTime(0);  // stale only once the run that holds it is gone
    if (!lock_->tryLock(0)) {
        qint64 pid = 0;
        QString host, program;
        if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&pid, &host, &program))
            return fail(QStringLiteral("%1: another run records to it (process %2 on %3); a record takes one run "
                                       "at a time")
                            .arg(path)
                            .arg(pid)
                            .arg(host));
        return fail(QStringLiteral("%1: cannot take its lock %2").arg(path, lock_->fileName()));
    }
    file_.setFileName(path);
    // Unbuffered: each row goes to the system in one write as it is made,
    // so a crash loses at most the row being written.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    mode |= append ? QIODevice::Append : QIODevice::Truncate;
    if (!file_.open(mode))
        return fail(QStringLiteral("%1: %2").arg(path, file_.errorString()));
    QByteArray lead;
    const qint64 size = file_.size();
    if (!append || size <= 0) {
        lead = Header;
    } else {
        // A record cut off in the middle of a row (a crash, a power cut)
        // gets its line ended, so the next row starts on a line of its own.
        QFile reader(path);
        if (reader.open(QIODevice::ReadOnly) && reader.seek(size - 1) && reader.read(1) != "\n")
            lead = "\r\n";
    }
    appended_ = append && size > 0;
    goodSize_ = std::max<qint64>(size, 0);
    QString why;
    if (!lead.isEmpty() && !writeWhole(lead, &why)) {
        if (!file_.isSequential())
            file_.resize(goodSize_);
        file_.close();
        return fail(QStringLiteral("%1: %2").arg(path, why));
    }
    goodSize_ += lead.size();
    path_ = path;
    startUtcMs_ = QDateTime::currentMSecsSinceEpoch();
    startNs_ = session_.clockNs();
    countsFrom_ = LocalStamp()(startUtcMs_);
    rows_ = 0;
    recordError_.clear();
    // The summary counts what this record holds: from its first row on.
    delete statistics_;
    statistics_ = new RunStatistics(session_, this);
    statistics_->reset();
    starting_ = true;
    operatorRow(QStringLiteral("record started"), startNs_);
    starting_ = false;
    if (!isRecording()) {
        path_.clear();
        return fail(QStringLiteral("%1: %2").arg(path, recordError_));
    }
    emit recordingChanged(true);
    return true;
}

void SessionRecord::stop()
{
    if (!isRecording())
        return;
    close(true);
}

void SessionRecord::close(bool writeStopRow)
{
    if (writeStopRow)
        operatorRow(QStringLiteral("record stopped"), session_.clockNs());
    if (file_.isOpen())
        file_.close();
    writeSummary();
    lock_.reset();
    emit recordingChanged(false);
}

void SessionRecord::operatorRow(const QString& note, std::int64_t ns)
{
    Row r;
    r.ns = ns;
    r.dir = "operator";
    r.note = note;
    write(r);
}

int SessionRecord::LocalStamp::offsetAt(qint64 utcMs)
{
    const qint64 minute = utcMs >= 0 ? utcMs / 60'000 : -((-utcMs + 59'999) / 60'000);
    if (minute != minute_) {
        minute_ = minute;
        offset_ = QDateTime::fromMSecsSinceEpoch(minute * 60'000, Qt::LocalTime).offsetFromUtc();
    }
    return offset_;
}

QString SessionRecord::LocalStamp::operator()(qint64 utcMs)
{
    // With an offset of 0 this is a UTC time, written with "Z" as before.
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offsetAt(utcMs)).toString(Qt::ISODateWithMs);
}

QString SessionRecord::LocalStamp::timeOfDay(qint64 utcMs)
{
    // Figures, not a date conversion: a table paints a screenful of these
    // several times a second.
    constexpr qint64 DayMs = 86'400'000;
    const qint64 ms = ((utcMs + qint64(offsetAt(utcMs)) * 1000) % DayMs + DayMs) % DayMs;
    const auto two = [](qint64 n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); };
    return two(ms / 3'600'000) + QLatin1Char(':') + two(ms / 60'000 % 60) + QLatin1Char(':') + two(ms / 1000 % 60)
           + QLatin1Char('.') + QString::number(ms % 1000).rightJustified(3, QLatin1Char('0'));
}

QString SessionRecord::rowText(const Row& row, qint64 startUtcMs, std::int64_t startNs, LocalStamp& stamp)
{
    const std::int64_t sinceNs = row.ns - startNs;
    // The time of day follows the monotonic clock from the start of the
    // record, so the two columns agree even if the system clock is set.
    QString line;
    line.reserve(160);
    line += stamp(startUtcMs + sinceNs / 1'000'000);
    line += QLatin1Char(',');
    line += QString::number(double(sinceNs) / 1e6, 'f', 3);
    line += QLatin1Char(',');
    line += QLatin1StringView(row.dir);
    for (const QString* f : {&row.bytes, &row.request, &row.state, &row.event, &row.channel, &row.checksum, &row.note}) {
        line += QLatin1Char(',');
        line += csvField(*f);
    }
    line += QLatin1StringView("\r\n");
    return line;
}

QByteArray SessionRecord::rowBytes(const Row& row)
{
    return rowText(row, startUtcMs_, startNs_, stamp_).toUtf8();
}

bool SessionRecord::writeWhole(const QByteArray& bytes, QString* why)
{
    // A short write says nothing of why; the write of the rest does.
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file_.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            *why = n < 0 ? file_.errorString() : QStringLiteral("nothing was written");
            return false;
        }
        done += n;
    }
    return true;
}

void SessionRecord::write(const Row& row)
{
    if (!file_.isOpen())
        return;
    const QByteArray bytes = rowBytes(row);
    QString why;
    if (writeWhole(bytes, &why)) {
        ++rows_;
        goodSize_ += bytes.size();
        return;
    }
    // A row cut short would spoil the row that follows it in an appended run.
    const bool seekable = !file_.isSequential();
    if (seekable)
        file_.resize(goodSize_);
    recordError_ = why;
    if (starting_) {
        file_.close();
        return;  // start() tells its caller
    }
    // The reason goes into the record itself when there is still room for it.
    Row last;
    last.ns = session_.clockNs();
    last.dir = "operator";
    last.note = QStringLiteral("record stopped: %1").arg(why);
    QString ignored;
    if (!writeWhole(rowBytes(last), &ignored) && seekable)
        file_.resize(goodSize_);
    // Polling goes on without the record; the operator is told once.
    const QString message = QStringLiteral("The record %1 could not be written and has stopped: %2").arg(path_, why);
    file_.close();
    emit recordingChanged(false);
    emit failed(message);
    writeSummary();
    lock_.reset();
}

void SessionRecord::writeSummary()
{
    if (path_.isEmpty() || !statistics_)
        return;
    QJsonObject o = figuresJson(statistics_->figures());
    o.insert(QStringLiteral("record"), path_);
    // Where in the record the counts begin: the time of its "record
    // started" row. An appended record holds earlier runs above it.
    o.insert(QStringLiteral("counts_from"), countsFrom_);
    o.insert(QStringLiteral("appended"), appended_);
    o.insert(QStringLiteral("ended"), isoTime(QDateTime::currentDateTime()));
    if (!recordError_.isEmpty())
        o.insert(QStringLiteral("record_error"), recordError_);
    QString why;
    if (!files::replaceWhole(summaryPath(path_), QJsonDocument(o).toJson(QJsonDocument::Indented), &why))
        emit summaryFailed(QStringLiteral("The summary of the record %1 was not written (%2); a summary there is "
                                          "from an earlier record.")
                               .arg(path_, why));
}
