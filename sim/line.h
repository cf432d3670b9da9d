// The simulator's end of the line: a pseudo-terminal whose other end is
// linked where the tester looks for its port, or a real serial port.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace sim {

class Line {
public:
    // A new pseudo-terminal, with linkPath made a symbolic link to its slave.
    // A link there to a pseudo-terminal that no longer exists (left by a run
    // that was killed) is replaced; anything else is left alone and refused.
    static std::unique_ptr<Line> openPty(const QString& linkPath, QString* error);
    // A serial device at 9600 baud, even parity, 7 data bits, 1 stop bit.
    static std::unique_ptr<Line> openDevice(const QString& path, QString* error);

    ~Line();  // closes; removes the link if it still points at this line

    int fd() const { return fd_; }
    QString name() const { return name_; }        // the link or the device
    QString slaveName() const { return slave_; }  // pseudo-terminal only

    // Everything waiting, without blocking. closed is set when the line went
    // away for good (a serial adapter pulled).
    QByteArray readAvailable(bool* closed);
    // All of bytes, waiting a little for room; false with the reason when the
    // line would not take them.
    bool write(const QByteArray& bytes, QString* error);
    // Lets the pseudo-terminal be opened again after a tester that took it
    // for itself died without giving it back: we hold the line open, so its
    // exclusive mode would outlive that tester.
    void releaseExclusive();

private:
    Line() = default;
    int fd_ = -1;
    int slaveFd_ = -1;  // held open so the line survives the tester closing it
    QString name_;
    QString slave_;
    bool ownsLink_ = false;
};

}  // namespace sim
