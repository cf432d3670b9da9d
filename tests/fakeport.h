// A serial port in memory: records every operation and every frame written,
// and delivers bytes to the window the way the real port does.
#pragma once

#include "link/port.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

class FakePort : public CommPort {
public:
    bool isOpen = false;
    int number = 0;
    QString settings;
    int rThreshold = 0;
    int sThreshold = 0;
    bool dtr = false;
    bool rts = false;
    int event = 0;
    QByteArray buffer;               // bytes waiting to be read
    std::vector<QByteArray> frames;  // every output, in order
    QStringList calls;               // operation names, in order
    int openFailure = 0;             // error number open() throws, 0 for none
    int writeFailure = 0;            // error number output() throws, 0 for none
    int opens = 0;
    bool recordCalls = true;         // off where only the bytes matter (the fuzzer)

    void called(const QString& name)
    {
        if (recordCalls)
            calls << name;
    }

    bool portOpen() const override { return isOpen; }
    void close() override
    {
        called(QStringLiteral("close"));
        isOpen = false;
    }
    void setCommPort(int n) override
    {
        called(QStringLiteral("commport"));
        if (isOpen)
            throw PortError(porterr::PortInUse);
        number = n;
    }
    void setSettings(const QString& s) override
    {
        called(QStringLiteral("settings"));
        settings = s;
    }
    void setInputLen(int) override { called(QStringLiteral("inputlen")); }
    void setInputMode(int) override { called(QStringLiteral("inputmode")); }
    void setRThreshold(int n) override
    {
        called(QStringLiteral("rthreshold"));
        rThreshold = n;
    }
    void setSThreshold(int n) override
    {
        called(QStringLiteral("sthreshold"));
        sThreshold = n;
    }
    void setDTREnable(bool on) override
    {
        called(QStringLiteral("dtr"));
        dtr = on;
    }
    void setRTSEnable(bool on) override
    {
        called(QStringLiteral("rts"));
        rts = on;
    }
    void open() override
    {
        called(QStringLiteral("open"));
        if (openFailure)
            throw PortError(openFailure);
        if (isOpen)
            throw PortError(porterr::PortInUse);
        isOpen = true;
        ++opens;
    }
    void output(const QByteArray& bytes) override
    {
        if (!isOpen)
            throw PortError(porterr::PortNotOpen);
        if (writeFailure) {
            isOpen = false;
            throw PortError(writeFailure);
        }
        if (!bytes.isEmpty())
            frames.push_back(bytes);
    }
    int commEvent() const override { return event; }
    int inBufferCount() const override { return int(buffer.size()); }
    void discardInput() override
    {
        called(QStringLiteral("discard"));
        buffer.clear();
    }
    QByteArray input() override
    {
        QByteArray b = buffer;
        buffer.clear();
        return b;
    }

    // Bytes arriving from the validator: raises the receive event while at
    // least the threshold waits, as the real port does.
    void arrive(const QByteArray& bytes)
    {
        buffer += bytes;
        if (isOpen && rThreshold > 0 && buffer.size() >= rThreshold) {
            event = CommEventReceive;
            if (onComm)
                onComm();
        }
    }

    // The adapter pulled out: the port is closed and the failure reported.
    void pull(int number = porterr::NoHardware)
    {
        isOpen = false;
        if (onFailure)
            onFailure(number);
    }
};
