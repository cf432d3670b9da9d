// One poll: open the port when asked to, build a new host message after a
// good reply or send the last one again, show it in the trace.
#include "link/frames.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void MAIN64K::PollTime_Timer()
{
    if (checkValue(Check4) == 1)
        PollValidator();
}

void MAIN64K::OpenCommPort()
{
    try {
        if (MSComm1->portOpen())
            MSComm1->close();
        MSComm1->setCommPort(ComPort);
        MSComm1->setSettings(QStringLiteral("9600, E, 7, 1"));
        MSComm1->setInputLen(0);
        MSComm1->setInputMode(1);
        MSComm1->setRThreshold(10);
        MSComm1->setSThreshold(1);
        MSComm1->setDTREnable(true);
        MSComm1->setRTSEnable(true);
        MSComm1->open();
        PortReady = true;
    } catch (const PortError& e) {
        PortReady = false;
        setCheckValue(Check4, 0);
        showPortError(e.number());
        Text1->setFocus();
        Text1->setSelection(0, int(Text1->text().size()));
    }
}

void MAIN64K::PollValidator()
{
    if (ReopenPort)
        OpenCommPort();
    if (!PortReady)
        return;
    ReopenPort = false;

    Shape2[0]->setFillColor(255);
    LEDBlink->setEnabled(true);

    if (ReplyReceived && PollMode != 4) {
        HostCommandCode = QStringLiteral("   ");
        Label14->setCaption(QStringLiteral(" RUNNING"));
        AckToggle = !AckToggle;

        StackRequest = false;
        ReturnRequest = false;
        const bool escrowed = (ReplyBytes[2] & frames::EscrowedBit) != 0;  // status 0
        bool stack = false;
        bool giveBack = false;
        if (escrowed && ChannelNumber == 0) {
            giveBack = true;
        } else if (escrowed && checkValue(Check6) == 1) {
            // A channel the window does not have cannot be enabled: return the note.
            if (ChannelNumber <= frames::ChannelCount && checkValue(Check1[ChannelNumber - 1]) == 1)
                stack = true;
            else
                giveBack = true;
        }
        if (stack) {
            StackRequest = true;
            HostCommandCode = QStringLiteral("STK");
            Label14->setCaption(QStringLiteral(" STACK BILL"));
        } else if (giveBack) {
            ReturnRequest = true;
            HostCommandCode = QStringLiteral("RTN");
            Label14->setCaption(QStringLiteral(" RETURN BILL"));
        }

        frames::HostRequest request;
        request.ack = AckToggle;
        for (int n = 0; n < frames::ChannelCount; ++n)
            request.channels[n] = checkValue(Check1[n]) == 1;
        request.escrow = checkValue(Check6) == 1;
        request.stack = StackRequest;
        request.returnNote = ReturnRequest;
        const frames::HostMessage m = frames::buildHostMessage(request);
        HostMessageText = QByteArray(reinterpret_cast<const char*>(m.bytes.data()), frames::HostMessage::Size);
        HostControl = m.control();
        HostData0 = m.data0();
        HostData1 = m.data1();
        HostData2 = m.data2();
        HostChecksum = m.checksum();
    }

    try {
        MSComm1->output(HostMessageText);
    } catch (const PortError& e) {
        portFailed(e.number());
        return;
    }

    ShowHostMessage();
    ReplyReceived = false;
    if (PollMode == 2)
        setCheckValue(Check4, 0);
}
