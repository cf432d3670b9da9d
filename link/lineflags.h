// The line flags of a serial device as the program found them. A run that
// was killed leaves the flags it set behind, and flags a previous owner set
// (ignoring parity errors, input translation) can keep the port from opening
// or change what is read: opening sets every flag the link relies on, and a
// normal close puts back what was found.
#pragma once

#include <QSerialPort>
#include <QString>

#include <memory>

class LineFlags {
public:
    LineFlags();
    ~LineFlags();
    LineFlags(const LineFlags&) = delete;
    LineFlags& operator=(const LineFlags&) = delete;

    // Before the port opens device: what it found is noted and the link's
    // flags are set. The device stays held until opened(), so that the line
    // is not hung up between the two opens. A device that cannot be opened
    // here is left alone: the port's own open reports why.
    void beforeOpen(const QString& device);
    // The port's open is done; one that failed gets the flags found back.
    void opened(bool ok);
    // Around a normal close of the port: its descriptor is kept a moment so
    // that the flags found go back onto the line before its last close.
    void beforeClose(const QSerialPort& port);
    void afterClose();
    // The device failed or went away: nothing is put back.
    void forget();

private:
    struct Found;
    std::unique_ptr<Found> found_;
};
