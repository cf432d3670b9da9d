// The serial port as the validator link sees it: the few operations it uses,
// nothing more, so a pseudo-terminal, a real adapter or a test double can
// stand behind it.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <stdexcept>

// A failed port operation. The number is what the operator sees in the box.
class PortError : public std::runtime_error {
public:
    explicit PortError(int number, const QString& what = {})
        : std::runtime_error(what.toStdString()), number_(number)
    {
    }
    int number() const { return number_; }

private:
    int number_;
};

namespace porterr {
inline constexpr int NoSuchPort = 8002;       // number out of range or device missing
inline constexpr int PortInUse = 8005;        // already open, or held by another program
inline constexpr int NoHardware = 8010;       // the device went away or does not answer
inline constexpr int SettingsRefused = 8015;  // line settings not accepted
inline constexpr int PortNotOpen = 8018;      // an operation that needs the port open
inline constexpr int ReadFailed = 8020;
inline constexpr int WriteFailed = 8021;
inline constexpr int OtherFailure = 8099;
}  // namespace porterr

inline constexpr int CommEventReceive = 2;

class CommPort {
public:
    virtual ~CommPort() = default;

    virtual bool portOpen() const = 0;
    virtual void close() = 0;
    virtual void setCommPort(int number) = 0;
    virtual void setSettings(const QString& settings) = 0;  // "9600, E, 7, 1"
    virtual void setInputLen(int length) = 0;                // 0: a read takes everything
    virtual void setInputMode(int mode) = 0;                 // 1: bytes
    virtual void setRThreshold(int count) = 0;
    virtual void setSThreshold(int count) = 0;
    virtual void setDTREnable(bool on) = 0;
    virtual void setRTSEnable(bool on) = 0;
    virtual void open() = 0;
    virtual void output(const QByteArray& bytes) = 0;
    virtual int commEvent() const = 0;
    virtual int inBufferCount() const = 0;
    virtual void discardInput() = 0;  // InBufferCount = 0
    virtual QByteArray input() = 0;

    // Raised on the window's thread when the port has something to report.
    std::function<void()> onComm;
    // Raised once when an open port fails (adapter pulled, far end gone);
    // the port is already closed when this runs.
    std::function<void(int number)> onFailure;
};
