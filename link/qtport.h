// The port on QSerialPort: a real adapter, or a pseudo-terminal linked as
// COM<n> beside the program.
#pragma once

#include "link/lineflags.h"
#include "link/port.h"

#include <QObject>
#include <QSerialPort>

#include <map>

// Where port number n lives: the device the user bound it to when there is
// one; else "COM<n>" on Windows ("\\.\COM<n>" from 10 on); elsewhere the
// entry COM<n> in the program's directory when there is one (a link to a
// serial device or a pseudo-terminal), else /dev/ttyS<n-1>. Empty for
// numbers below 1.
QString portDeviceName(int number, const QString& programDir, const std::map<int, QString>& bound = {});
// The device a port opens: the one given for the run (--device) whatever the
// number and its binding say, else the number's as above.
QString portDeviceName(const QString& given, int number, const QString& programDir,
                       const std::map<int, QString>& bound);

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::EvenParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data7;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
// Reads "9600, E, 7, 1"; false when the text does not describe a line.
bool parseLineSettings(const QString& text, LineSettings& out);

class QtPort final : public QObject, public CommPort {
    Q_OBJECT
public:
    explicit QtPort(QString programDir, QObject* parent = nullptr);
    ~QtPort() override;

    bool portOpen() const override;
    void close() override;
    void setCommPort(int number) override;
    void setSettings(const QString& settings) override;
    void setInputLen(int length) override;
    void setInputMode(int mode) override;
    void setRThreshold(int count) override;
    void setSThreshold(int count) override;
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;
    void open() override;
    void output(const QByteArray& bytes) override;
    int commEvent() const override;
    int inBufferCount() const override;
    void discardInput() override;
    QByteArray input() override;

    // For this run the port is this device (--device), whatever the number
    // names; empty goes back to the number's device.
    void setDeviceOverride(const QString& device) { override_ = device; }
    const QString& deviceOverride() const { return override_; }
    // The devices the user bound port numbers to; read at each open.
    void setPortBindings(std::map<int, QString> bound) { bound_ = std::move(bound); }
    const std::map<int, QString>& portBindings() const { return bound_; }
    QString deviceName() const { return portDeviceName(override_, number_, programDir_, bound_); }

private:
    void dataArrived();
    void serialError(QSerialPort::SerialPortError error);
    void fail(int number);
    void throwIfClosed() const;
    void closeSerial();

    QString programDir_;
    QString override_;
    std::map<int, QString> bound_;
    QSerialPort serial_;
    LineFlags flags_;
    int number_ = 1;
    LineSettings line_;
    int rThreshold_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
    bool opening_ = false;
    int event_ = 0;
    int failure_ = 0;  // why the port closed itself; 0 while it works
};
