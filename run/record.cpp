#include "run/record.h"

#include "link/pollsession.h"
#include "run/runstats.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

const char* const Header = "time,ms,dir,bytes,request,state,event,channel,checksum,note\r\n";

// The event of this reply alone: the session's event text persists across
// replies, and a record that repeated it would count one note many times.
QString eventOf(const frames::ValidatorReply& reply)
{
    return frames::decodeStatus(reply, QString(), QString()).eventText;
}

}  // namespace

SessionRecord::SessionRecord(PollSession& session, const RunStatistics& statistics, QObject* parent)
    : QObject(parent), session_(session), statistics_(statistics)
{
    connect(&session, &PollSession::messageSent, this, [this](const frames::HostMessage& m, bool repeated) {
        if (!isRecording() || m.isEmpty())
            return;  // nothing went on the line
        Row r;
        r.ns = session_.lastWriteNs();
        r.dir = "host";
        r.bytes = frames::hexBytes(m.toByteArray());
        r.request = requestText(m);
        if (repeated)
            r.note = QStringLiteral("repeated");
        write(r);
    });
    connect(&session, &PollSession::noResponse, this, [this] {
        if (!isRecording())
            return;
        // Known when the next message goes out, and stamped so.
        Row r;
        r.ns = session_.lastWriteNs();
        r.dir = "timeout";
        r.note = QStringLiteral("no response");
        write(r);
    });
    connect(&session, &PollSession::replyChecked, this,
            [this](const frames::ValidatorReply& reply, bool good, const frames::StatusDecoding& d) {
                if (!isRecording())
                    return;
                Row r;
                r.ns = session_.lastReadNs();
                r.dir = "validator";
                r.bytes = frames::hexBytes(reply.toByteArray());
                r.checksum = good ? QStringLiteral("ok") : QStringLiteral("bad");
                // Decoded only from a frame the validator vouches for whole.
                if (reply.isWholeFrame()) {
                    r.state = d.stateText;
                    r.event = eventOf(reply);
                    r.channel = d.channelText.trimmed();
                } else if (good) {
                    r.note = QStringLiteral("malformed");
                }
                write(r);
            });
    connect(&session, &PollSession::bytesDiscarded, this, [this](const QByteArray& bytes) {
        if (!isRecording())
            return;
        Row r;
        r.ns = session_.clockNs();
        r.dir = "discarded";
        r.bytes = frames::hexBytes(bytes);
        r.note = QStringLiteral("%1 bytes").arg(bytes.size());
        write(r);
    });
    connect(&session, &PollSession::portFailed, this, [this](int number) {
        if (!isRecording())
            return;
        Row r;
        r.ns = session_.clockNs();
        r.dir = "error";
        r.note = QString::number(number);
        write(r);
    });
    connect(&session, &PollSession::started, this, [this] {
        if (isRecording())
            operatorRow(QStringLiteral("polling started, %1").arg(pollModeCaption(session_.mode())));
    });
    connect(&session, &PollSession::stopped, this, [this] {
        if (isRecording())
            operatorRow(QStringLiteral("polling stopped"));
    });
    connect(&session, &PollSession::suspended, this, [this] {
        if (isRecording())
            operatorRow(QStringLiteral("polling stopped"));
    });
    connect(&session, &PollSession::modeChanged, this, [this](PollMode mode) {
        if (isRecording())
            operatorRow(QStringLiteral("mode %1").arg(pollModeCaption(mode)));
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
    file_.setFileName(path);
    // Unbuffered: each row goes to the system in one write as it is made,
    // so a crash loses at most the row being written.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    mode |= append ? QIODevice::Append : QIODevice::Truncate;
    if (!file_.open(mode)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file_.errorString());
        return false;
    }
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
    goodSize_ = std::max<qint64>(size, 0) + lead.size();
    if (!lead.isEmpty() && file_.write(lead) != lead.size()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file_.errorString());
        file_.close();
        return false;
    }
    path_ = path;
    startUtcMs_ = QDateTime::currentMSecsSinceEpoch();
    startNs_ = session_.clockNs();
    rows_ = 0;
    starting_ = true;
    operatorRow(QStringLiteral("record started"));
    starting_ = false;
    if (!isRecording()) {
        path_.clear();
        if (error)
            *error = QStringLiteral("%1: the record could not be written.").arg(path);
        return false;
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
        operatorRow(QStringLiteral("record stopped"));
    if (file_.isOpen())
        file_.close();
    writeSummary();
    emit recordingChanged(false);
}

void SessionRecord::operatorRow(const QString& note)
{
    Row r;
    r.ns = session_.clockNs();
    r.dir = "operator";
    r.note = note;
    write(r);
}

QString SessionRecord::LocalStamp::operator()(qint64 utcMs)
{
    const qint64 minute = utcMs >= 0 ? utcMs / 60'000 : -((-utcMs + 59'999) / 60'000);
    if (minute != minute_) {
        minute_ = minute;
        offset_ = QDateTime::fromMSecsSinceEpoch(minute * 60'000, Qt::LocalTime).offsetFromUtc();
    }
    // With an offset of 0 this is a UTC time, written with "Z" as before.
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offset_).toString(Qt::ISODateWithMs);
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

void SessionRecord::write(const Row& row)
{
    if (!file_.isOpen())
        return;
    const QByteArray bytes = rowText(row, startUtcMs_, startNs_, stamp_).toUtf8();
    const qint64 written = file_.write(bytes);
    if (written == bytes.size()) {
        ++rows_;
        goodSize_ += written;
        return;
    }
    // A row cut short would spoil the row that follows it in an appended run.
    if (written > 0 && !file_.isSequential())
        file_.resize(goodSize_);
    // Polling goes on without the record; the operator is told once.
    const QString message = QStringLiteral("The record %1 could not be written and has stopped: %2")
                                .arg(path_, file_.errorString());
    file_.close();
    if (starting_)
        return;  // start() tells its caller
    writeSummary();
    emit recordingChanged(false);
    emit failed(message);
}

void SessionRecord::writeSummary()
{
    if (path_.isEmpty())
        return;
    QJsonObject o = statistics_.toJson();
    o.insert(QStringLiteral("record"), path_);
    const QDateTime now = QDateTime::currentDateTime();
    o.insert(QStringLiteral("ended"), now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs));
    QSaveFile f(summaryPath(path_));
    // Best effort: on a full disk the summary cannot be had either, and
    // the operator has been told of the record already.
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QJsonDocument(o).toJson(QJsonDocument::Indented));
        f.commit();
    }
}
