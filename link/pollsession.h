// The host side of the validator line: owns the port and the poll clock,
// keeps the acknowledge scheme, the escrow decisions and the decoding of the
// validator's status, and reports what happened through signals. It has no
// window: the tester window, an unattended run and the tests drive it alike.
#pragma once

#include "link/events.h"
#include "link/frames.h"
#include "link/intervaltimer.h"
#include "link/port.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

enum class PollMode : std::uint8_t {
    Normal = 1,       // polls at the poll rate; a new message after each good reply
    StepInto = 2,     // one poll per start
    Interrupt = 3,    // one poll per start; further polls only from a clock already running
    NegativeAck = 4,  // every poll repeats the last message; stacked notes are not counted
};

// The mode the mode button moves to next.
PollMode nextPollMode(PollMode mode);
// The mode button's caption, which a record names the mode by too.
QString pollModeCaption(PollMode mode);

// The line settings the validator expects.
inline const QString LineSettingsText = QStringLiteral("9600, E, 7, 1");

class PollSession : public QObject {
    Q_OBJECT
public:
    // How long a line carrying no frame is left to settle before it is drained.
    static constexpr int ResyncPauseMs = 5;
    // The port raises its receive event at this many bytes waiting: one short
    // of a reply, which is read once it is whole. A frame begun is followed
    // byte by byte.
    static constexpr int ReceiveThreshold = frames::ValidatorReply::Size - 1;
    static constexpr int EveryByte = 1;

    explicit PollSession(std::unique_ptr<CommPort> port, QObject* parent = nullptr);
    ~PollSession() override;

    // ---- what the operator sets ----
    // Another number than the one set up sets the port up anew at the next poll.
    void setPortNumber(std::int16_t number);
    std::int16_t portNumber() const { return portNumber_; }
    // The port is set up anew at the next poll.
    void requestReopen() { link_.reopen = true; }
    // Milliseconds; taken by the poll clock at the next start in the modes
    // that run it.
    void setPollPeriod(int ms) { period_ = ms; }
    int pollPeriod() const { return period_; }
    void setMode(PollMode mode);
    PollMode mode() const { return mode_; }
    // Read when the next new message is built; a repeated message keeps
    // what it was built with.
    void setEscrow(bool on) { escrow_ = on; }
    bool escrow() const { return escrow_; }
    void setChannelEnabled(int channel, bool on);  // channel 1 to ChannelCount
    bool channelEnabled(int channel) const;

    // How long a line with no frame is left to settle (ResyncPauseMs unless
    // set; 0 drains it at once, which makes a run repeatable for a fuzzer).
    void setResyncPause(int ms) { pause_.setInterval(ms); }
    bool resynchronising() const { return link_.resynchronising; }

    // START POLL: the boxes have been checked by whoever drives the session.
    void start();
    // START POLL released.
    void suspend();
    bool isRunning() const { return link_.running; }
    // Polling stops and the port is released; the next start sets it up anew.
    void closePort();
    // Back to a new session: the port released, and the acknowledge scheme,
    // the last message and reply and their decoding forgotten (observers are
    // told by sessionReset). What the operator set stays.
    void reset();

    // ---- the steps of the link, by the names the procedures have always had ----
    void PollTime_Timer();
    void PollValidator();
    void OpenCommPort();
    void MSComm1_OnComm();

    // ---- what the link holds ----
    // For tests and a driver between polls; what happened is reported by the
    // signals below, each with everything it needs.
    bool portReady() const { return link_.portReady; }
    bool reopenPending() const { return link_.reopen; }
    // A reply with a good checksum arrived since the last send.
    bool replyReceived() const { return link_.replyReceived; }
    bool ackToggle() const { return link_.ack; }
    const frames::HostMessage& lastMessage() const { return link_.message; }
    // The last reply that began with STX, good checksum or not.
    const frames::ValidatorReply& lastReply() const { return link_.reply; }
    // What the last reply said; state and event texts persist across replies.
    const frames::StatusDecoding& decoding() const { return link_.decoding; }
    const IntervalTimer& pollTimer() const { return PollTime; }
    CommPort& port() { return *port_; }
    const CommPort& port() const { return *port_; }

    // A monotonic clock in nanoseconds, and when the last message was
    // written out and the last reply read in by it.
    std::int64_t clockNs() const { return clock_.nsecsElapsed(); }
    std::int64_t lastWriteNs() const { return link_.lastWriteNs; }
    std::int64_t lastReadNs() const { return link_.lastReadNs; }

signals:
    // A poll goes ahead: the port is ready (the host lamp lights).
    void pollBegins();
    // A new message was built (before it is written).
    void messageBuilt(const frames::HostMessage& message);
    // The previous message drew no good reply; raised when the next one has
    // gone out (at ns, its write time), just before messageSent.
    void noResponse(std::int64_t ns);
    // A message is on the line.
    void messageSent(const SentMessage& sent);
    // A reply that began with STX was read and decoded.
    void replyChecked(const CheckedReply& checked);
    // Bytes dropped to get back in step with the line: before a frame's STX,
    // a read with no STX at all, or what followed a reply in the same read.
    void bytesDiscarded(const QByteArray& bytes, std::int64_t ns);
    // A note stacked on a channel (any number a reply names, 0 for none).
    void noteStacked(int channel);
    void started(PollMode mode, std::int64_t ns);
    // Polling stopped by the session itself: one step done, or the port failed.
    void stopped(std::int64_t ns);
    void suspended(std::int64_t ns);
    void modeChanged(PollMode mode, std::int64_t ns);
    // The port could not be set up, or failed while open. Raised once per failure.
    void portFailed(int number, std::int64_t ns);
    // reset(): a new session begins; what was counted of the old one goes.
    void sessionReset();

private:
    void portFailure(int number);
    void stopRunning();
    void take(QByteArray bytes, bool behindStray = false);
    void takeBehindStray(const QByteArray& bytes);
    void dropAfterReply(const QByteArray& bytes);
    void decode(const QByteArray& bytes);
    void hold(const QByteArray& partial, bool behindStray = false);
    void resynchronise(const QByteArray& dropped);
    void endPause();
    void wakeIdleClock();

    std::unique_ptr<CommPort> port_;
    IntervalTimer PollTime;

    std::int16_t portNumber_ = 0;
    int period_ = 0;
    PollMode mode_ = PollMode::Normal;
    bool escrow_ = false;
    std::array<bool, frames::ChannelCount> channels_{};

    // What the link holds. A new session starts from these values, and a
    // reset one returns to them, so a member added here is reset too.
    struct LinkState {
        bool running = false;
        bool reopen = true;  // a new session sets its port up at the first poll
        bool portReady = false;
        bool replyReceived = false;
        bool awaitingReply = false;  // a message went out and has no good reply yet
        bool ack = false;
        frames::HostMessage message;
        frames::ValidatorReply reply;
        // Nothing decoded yet: every text starts empty.
        frames::StatusDecoding decoding{QString(), QString(), QString(), QString(), 0, QString()};
        QString lastChannelText;
        QByteArray pending;  // a frame begun, waiting for the rest
        bool pendingBehindStray = false;  // it followed stray bytes: taken only whole and valid
        bool resynchronising = false;
        std::int64_t lastWriteNs = 0;
        std::int64_t lastReadNs = 0;
    };
    LinkState link_;

    QTimer pause_;

    QElapsedTimer clock_;
};
