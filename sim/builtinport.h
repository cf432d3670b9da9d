// The virtual validator inside the program, behind the port interface the
// poll session uses: what the host writes reaches the device model, and its
// answers come back as a serial line at the set speed would bring them. No
// pseudo-terminal, no second process, nothing of any one system.
#pragma once

#include "link/port.h"
#include "sim/commands.h"
#include "sim/device.h"
#include "sim/splitter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace sim {

struct BuiltInOptions {
    VirtualValidator::Options device;
    bool autoNotes = true;      // a note every autoIntervalMs on an enabled channel
    int autoIntervalMs = 2000;
    // Timed commands; their times count from the first time the port opens,
    // when the device is first on the line.
    std::vector<ScriptStep> script;
    std::uint32_t seed = 0;     // of the automatic notes' channels; 0: from the clock
};

class BuiltInPort final : public QObject, public CommPort {
    Q_OBJECT
public:
    explicit BuiltInPort(BuiltInOptions options = {}, QObject* parent = nullptr);
    ~BuiltInPort() override;

    bool portOpen() const override { return open_; }
    void close() override;
    void setCommPort(int number) override;
    void setSettings(const QString& settings) override;
    void setInputLen(int) override {}   // a read always takes everything waiting
    void setInputMode(int) override {}  // reads are always bytes
    void setRThreshold(int count) override { rThreshold_ = count; }
    void setSThreshold(int) override {}  // no send events are used
    void setDTREnable(bool) override {}
    void setRTSEnable(bool) override {}
    void open() override;
    void output(const QByteArray& bytes) override;
    int commEvent() const override { return event_; }
    int inBufferCount() const override { return open_ ? int(inBuffer_.size()) : 0; }
    void discardInput() override { inBuffer_.clear(); }
    QByteArray input() override;

    VirtualValidator& device() { return device_; }
    // How long one character takes on the line as set: start bit, data
    // bits, parity and stop bits at the baud rate (1.04 ms at 9600 7E1).
    std::int64_t characterNs() const { return characterNs_; }
    // Script commands the device has carried out so far.
    int scriptStepsRun() const { return int(scriptNext_); }

private:
    struct Arrival {
        std::int64_t dueNs;  // when the chunk's last byte is in
        QByteArray bytes;
    };

    std::int64_t nowNs() const { return clock_.nsecsElapsed(); }
    void answer(std::int64_t heardNs, const frames::HostMessage& message);
    void deliverDue();
    void arm();
    void autoTick();
    void scriptTick();
    void run(const Command& command);
    void switchOff();
    void throwIfClosed() const;

    BuiltInOptions options_;
    VirtualValidator device_;
    HostFrameSplitter splitter_;
    std::mt19937 rng_;
    QElapsedTimer clock_;
    QTimer deliverTimer_;
    QTimer autoTimer_;
    QTimer scriptTimer_;
    QElapsedTimer scriptClock_;  // started at the first open

    bool open_ = false;
    bool gone_ = false;      // switched off by the script: the port is no more
    bool autoOn_ = true;
    int rThreshold_ = 0;
    int event_ = 0;
    std::int64_t characterNs_ = 0;
    std::int64_t hostLineFreeNs_ = 0;   // when the host's last byte written is through
    std::int64_t replyLineFreeNs_ = 0;  // when the device's last byte written is through
    std::deque<Arrival> arrivals_;
    QByteArray inBuffer_;
    std::size_t scriptNext_ = 0;
};

}  // namespace sim
