// The running simulator: the device on a line, commands from standard input
// and a script, automatic notes, random faults, and the frame log.
#pragma once

#include "sim/commands.h"
#include "sim/device.h"
#include "sim/line.h"
#include "sim/splitter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <memory>
#include <random>

class QSocketNotifier;

namespace sim {

struct SimOptions {
    VirtualValidator::Options device;
    bool readStdin = true;
    bool autoNotes = false;
    int autoIntervalMs = 2000;
    bool faults = false;
    int faultRatePercent = 5;
    QStringList faultKinds{QStringLiteral("badsum"), QStringLiteral("garbage"), QStringLiteral("silence"),
                           QStringLiteral("split"), QStringLiteral("double")};
    std::uint32_t seed = 0;  // 0: from the clock
    std::vector<ScriptStep> script;
    QString logPath;
    // Line noise: bytes a second written between the replies, random or all
    // of one value; a pad byte written after every reply.
    int noiseRate = 0;
    int noiseByte = -1;  // -1: random bytes
    int padByte = -1;    // -1: none
};

// The fault kinds --faults may draw from.
const QStringList& randomFaultKinds();

class Simulator : public QObject {
    Q_OBJECT
public:
    Simulator(std::unique_ptr<Line> line, SimOptions options, QObject* parent = nullptr);
    ~Simulator() override;

    bool start(QString* error);  // opens the log, starts listening
    VirtualValidator& device() { return device_; }

    // Carries out one command line; false once the run should end.
    bool command(const QString& line);
    bool run(const Command& command);  // the same, already parsed
    // Ends the run: prints the counts, closes the line (removing its link)
    // and emits finished.
    void stop();

signals:
    void finished();

private:
    void lineReadable();
    void stdinReadable();
    void autoTick();
    void noiseTick();
    void scriptTick();
    void maybeInjectFault();
    void send(const std::vector<Chunk>& chunks);
    void flushOutgoing();
    void logFrame(char direction, const QByteArray& bytes, const QString& note = {});
    void say(const QString& text);

    struct Outgoing {
        qint64 dueNs;
        QByteArray bytes;
        QString note;
    };

    std::unique_ptr<Line> line_;
    SimOptions options_;
    VirtualValidator device_;
    HostFrameSplitter splitter_;
    std::mt19937 rng_;
    QSocketNotifier* lineNotifier_ = nullptr;
    QSocketNotifier* stdinNotifier_ = nullptr;
    QTimer autoTimer_;
    QTimer scriptTimer_;
    QTimer sendTimer_;
    QTimer quietTimer_;
    QTimer noiseTimer_;
    qint64 noiseSentNs_ = 0;  // noise owed is measured from here
    qint64 noiseBytes_ = 0;
    qint64 lastHeardNs_ = 0;
    QElapsedTimer clock_;
    std::deque<Outgoing> outgoing_;
    std::size_t scriptNext_ = 0;
    QByteArray stdinLine_;        // the command line so far, at most MaxCommandLine bytes
    bool stdinSkipping_ = false;  // inside a line that outgrew the limit
    qint64 stdinLineNumber_ = 0;  // lines of standard input ended so far
    std::FILE* log_ = nullptr;
    bool quitting_ = false;
};

// Microseconds of the system's monotonic clock, the log's time base.
qint64 monotonicMicros();

}  // namespace sim
