#include "link/qtport.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

QString portDeviceName(int number, const QString& programDir, const std::map<int, QString>& bound)
{
    if (number < 1)
        return {};
    if (const auto it = bound.find(number); it != bound.end() && !it->second.isEmpty())
        return it->second;
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    // Only COM1 to COM9 are names in every namespace; above, the device
    // namespace's form is the one that opens.
    if (number >= 10)
        return QStringLiteral("\\\\.\\COM%1").arg(number);
    return QStringLiteral("COM%1").arg(number);
#else
    // A link whose device is gone still names this port: opening some other
    // serial port in its place would poll a line the operator did not choose.
    const QString local = QDir(programDir).filePath(QStringLiteral("COM%1").arg(number));
    const QFileInfo entry(local);
    if (entry.exists() || entry.isSymLink())
        return local;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

QString portDeviceName(const QString& given, int number, const QString& programDir,
                       const std::map<int, QString>& bound)
{
    return given.isEmpty() ? portDeviceName(number, programDir, bound) : given;
}

bool parseLineSettings(const QString& text, LineSettings& out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    LineSettings s;
    s.baud = baud;
    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else
        return false;
    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    s.dataBits = QSerialPort::DataBits(bits);
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return false;
    out = s;
    return true;
}

static int openErrorNumber(QSerialPort::SerialPortError e)
{
    switch (e) {
    case QSerialPort::DeviceNotFoundError:
        return porterr::NoSuchPort;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return porterr::PortInUse;
    case QSerialPort::UnsupportedOperationError:
        return porterr::SettingsRefused;
    case QSerialPort::ResourceError:
        return porterr::NoHardware;
    default:
        return porterr::OtherFailure;
    }
}

QtPort::QtPort(QString programDir, QObject* parent) : QObject(parent), programDir_(std::move(programDir))
{
    connect(&serial_, &QSerialPort::readyRead, this, &QtPort::dataArrived);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtPort::serialError);
}

QtPort::~QtPort()
{
    onComm = nullptr;
    onFailure = nullptr;
    closeSerial();
}

bool QtPort::portOpen() const
{
    return serial_.isOpen();
}

void QtPort::close()
{
    closeSerial();
    event_ = 0;
}

void QtPort::closeSerial()
{
    if (!serial_.isOpen())
        return;
    flags_.beforeClose(serial_);
    serial_.close();
    flags_.afterClose();
}

void QtPort::setCommPort(int number)
{
    if (serial_.isOpen())
        throw PortError(porterr::PortInUse, QStringLiteral("port already open"));
    // With a device given the number names nothing, so any stored number will do.
    if (number < 1 && override_.isEmpty())
        throw PortError(porterr::NoSuchPort, QStringLiteral("invalid port number"));
    number_ = number;
}

void QtPort::setSettings(const QString& settings)
{
    LineSettings s;
    if (!parseLineSettings(settings, s))
        throw PortError(porterr::SettingsRefused, QStringLiteral("invalid line settings"));
    line_ = s;
    // An open port takes new settings at once; a pseudo-terminal refuses them
    // then, which is why the set-up gives them before opening.
    if (serial_.isOpen()) {
        if (!serial_.setBaudRate(s.baud) || !serial_.setParity(s.parity) || !serial_.setDataBits(s.dataBits)
            || !serial_.setStopBits(s.stopBits))
            throw PortError(porterr::SettingsRefused, serial_.errorString());
    }
}

void QtPort::setInputLen(int) {}  // a read always takes everything waiting
void QtPort::setInputMode(int) {}  // reads are always bytes

void QtPort::setRThreshold(int count)
{
    rThreshold_ = count;
}

void QtPort::setSThreshold(int) {}  // no send events are used

void QtPort::setDTREnable(bool on)
{
    dtr_ = on;
    if (serial_.isOpen())
        serial_.setDataTerminalReady(on);
}

void QtPort::setRTSEnable(bool on)
{
    rts_ = on;
    if (serial_.isOpen())
        serial_.setRequestToSend(on);
}

void QtPort::open()
{
    if (serial_.isOpen())
        throw PortError(porterr::PortInUse, QStringLiteral("port already open"));
    QString device = deviceName();
    bool missing = device.isEmpty();
#ifndef Q_OS_WIN
    missing = missing || !QFileInfo::exists(device);
    // The serial library looks a bare name up under /dev; a name that
    // exists as given (a link in the working directory) is that file.
    if (!missing)
        device = QFileInfo(device).absoluteFilePath();
#endif
    if (missing)
        throw PortError(porterr::NoSuchPort, QStringLiteral("no such port: %1").arg(device));
    serial_.setPortName(device);
    serial_.setBaudRate(line_.baud);
    serial_.setParity(line_.parity);
    serial_.setDataBits(line_.dataBits);
    serial_.setStopBits(line_.stopBits);
    serial_.setFlowControl(QSerialPort::NoFlowControl);
    opening_ = true;
    flags_.beforeOpen(device);
    const bool ok = serial_.open(QIODevice::ReadWrite);
    flags_.opened(ok);
    if (!ok) {
        opening_ = false;
        const QSerialPort::SerialPortError e = serial_.error();
        const QString why = serial_.errorString();
        serial_.clearError();
        throw PortError(openErrorNumber(e), why);
    }
    // Devices without modem-control lines (a pseudo-terminal) refuse these;
    // the line works without them.
    serial_.setDataTerminalReady(dtr_);
    serial_.setRequestToSend(rts_);
    // A port opens with nothing waiting: bytes the line carried before (a
    // reply to an earlier session's message) would pass for the answer to
    // the first poll.
    serial_.clear(QSerialPort::Input);
    serial_.clearError();
    opening_ = false;
    event_ = 0;
    failure_ = 0;
}

void QtPort::throwIfClosed() const
{
    // A port that closed itself on a failure reports that failure, also to
    // a caller that comes before the queued report does.
    if (!serial_.isOpen())
        throw PortError(failure_ ? failure_ : porterr::PortNotOpen, QStringLiteral("port not open"));
}

void QtPort::output(const QByteArray& bytes)
{
    throwIfClosed();
    if (bytes.isEmpty())
        return;
    if (serial_.write(bytes) != bytes.size()) {
        const QString why = serial_.errorString();
        if (serial_.isOpen())
            fail(porterr::WriteFailed);
        throw PortError(failure_ ? failure_ : porterr::WriteFailed, why);
    }
    // Out on the line now, not at the next turn of the event loop.
    serial_.flush();
    throwIfClosed();
}

int QtPort::commEvent() const
{
    return event_;
}

int QtPort::inBufferCount() const
{
    return serial_.isOpen() ? int(serial_.bytesAvailable()) : 0;
}

void QtPort::discardInput()
{
    if (!serial_.isOpen())
        return;
    serial_.clear(QSerialPort::Input);
    serial_.readAll();
}

QByteArray QtPort::input()
{
    throwIfClosed();
    // Exactly what waits: readAll() would reserve a large block per read.
    return serial_.read(serial_.bytesAvailable());
}

void QtPort::dataArrived()
{
    // Raised again on every arrival while the threshold is met, since the
    // handler waits for a whole reply before it reads.
    if (rThreshold_ > 0 && serial_.bytesAvailable() >= rThreshold_) {
        event_ = CommEventReceive;
        if (onComm)
            onComm();
    }
}

void QtPort::serialError(QSerialPort::SerialPortError error)
{
    if (opening_ || !serial_.isOpen())
        return;
    switch (error) {
    case QSerialPort::ReadError:
        fail(porterr::ReadFailed);
        break;
    case QSerialPort::WriteError:
        fail(porterr::WriteFailed);
        break;
    case QSerialPort::ResourceError:
        fail(porterr::NoHardware);
        break;
    default:
        serial_.clearError();  // DTR/RTS on a pseudo-terminal and the like
        break;
    }
}

void QtPort::fail(int number)
{
    // Left open, a dead device reports the same error again in a tight loop.
    flags_.forget();
    serial_.close();
    event_ = 0;
    failure_ = number;
    // Reported from the event loop, not from inside QSerialPort's own
    // notification; a report that finds the port set up again since is stale.
    QMetaObject::invokeMethod(
        this,
        [this, number] {
            if (failure_ == number && !serial_.isOpen() && onFailure)
                onFailure(number);
        },
        Qt::QueuedConnection);
}
