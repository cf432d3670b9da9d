// The two trace panes and the lamps, on exact text: which row each line
// lands in, when the panes scroll, and how a missed or doubled reply moves
// the validator pane against the host pane.
#include "windowbench.h"
#include "link/frames.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The reply line of a well-formed idle reply numbered by status 4.
QString replyLine(int n)
{
    const frames::ValidatorReply r = frames::makeReply(0x10, {0x01, 0, 0, 0, std::uint8_t(n), 0});
    return frames::replyTraceLine(r, QStringLiteral("   "), QStringLiteral(" "), QStringLiteral("   "));
}

struct Bench : WindowBench {
    bool ack = false;  // acknowledge bit of the next built message

    Bench() { setCheckValue(w->Check6, 0); }
    // Channels 1 to 7 spell n, so each built host line is told apart.
    void enables(int n)
    {
        for (int i = 0; i < 7; ++i)
            setCheckValue(w->Check1[i], (n >> i) & 1);
    }
    void start(int n)
    {
        enables(n);
        setCheckValue(w->Check4, 1);
    }
    void poll(int n)
    {
        enables(n);
        w->PollTime_Timer();
    }
    void reply(int n, bool good = true) { fake->arrive(replyBytes({0x01, 0, 0, 0, std::uint8_t(n), 0}, good)); }
    QStringList pane(const std::array<Label*, 16>& labels) const
    {
        QStringList rows;
        for (Label* l : labels)
            rows << l->caption();
        return rows;
    }
    QStringList host() const { return pane(w->Label18); }
    QStringList validator() const { return pane(w->Label20); }
};

// Host line of the n-th built message after a start (ack bit alternating
// from 0), data 0 = n.
QString hostLine(int n, bool repeated = false, int builtAs = 0)
{
    const int k = repeated ? builtAs : n;
    const int control = (k % 2 == 1) ? 0x10 : 0x11;
    const frames::HostMessage m = frames::hostMessageFrom(std::uint8_t(control), std::uint8_t(k), 0, 0);
    return frames::hostTraceLine(m);
}

// Polls 1..count, each answered by reply n before the next.
void run(Bench& b, int count)
{
    b.start(1);
    b.reply(1);
    for (int n = 2; n <= count; ++n) {
        b.poll(n);
        b.reply(n);
    }
}

}  // namespace

class TestTrace : public QObject {
    Q_OBJECT
private slots:
    void firstHostLine();
    void replyLineExample();
    void noResponseLine();
    void badChecksumWhileFilling();
    void scrollAtSeventeenthHostLine();
    void outOfStepAfterBadChecksumWhenFull();
    void secondReplyToOnePoll_data();
    void secondReplyToOnePoll();
    void noRowBeforeFirstHostLine();
    void startClearsPanes();
    void lamps();
};

void TestTrace::firstHostLine()
{
    Bench b;
    b.start(0x7F);
    QCOMPARE(b.w->Label18[0]->caption(), QStringLiteral(" 02 08 10 7F 00 00 03 67    "));
    QCOMPARE(b.w->Label20[0]->caption(), QString());
    QCOMPARE(b.w->traceRow(), 1);
}

void TestTrace::replyLineExample()
{
    Bench b;
    b.start(0x7F);
    b.fake->arrive(replyBytes({0x04, 0x00, 0x18, 0x00, 0x00, 0x00}));
    QCOMPARE(b.w->Label20[0]->caption(), QStringLiteral(" 02 0B 10 04 00 18 00 00 00 03 07 ESC 3    "));
    // The ETX column shows the byte as it came.
    b.fake->arrive(QByteArray::fromHex("020b10010000000000ff1a"));
    QCOMPARE(b.w->Label20[0]->caption(), QStringLiteral(" 02 0B 10 01 00 00 00 00 00 FF 1A") + QString(10, QLatin1Char(' ')));
}

void TestTrace::noResponseLine()
{
    Bench b;
    b.start(1);
    b.reply(1);
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" IDLING"));
    b.poll(2);
    b.poll(3);  // nothing came for poll 2
    QCOMPARE(b.validator().mid(0, 3), QStringList({replyLine(1), frames::NoResponseLine, QString()}));
    QCOMPARE(frames::NoResponseLine, QStringLiteral("       NO RESPONSE!  TIMEOUT"));
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" "));
    QCOMPARE(b.host().mid(0, 4), QStringList({hostLine(1), hostLine(2), hostLine(2, true, 2), QString()}));
    QCOMPARE(b.w->traceRow(), 3);
}

void TestTrace::badChecksumWhileFilling()
{
    Bench b;
    b.start(1);
    b.reply(1, false);
    // The reply is shown as a miss at once, and again by the next poll in
    // the same row.
    QCOMPARE(b.w->Label20[0]->caption(), frames::NoResponseLine);
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" IDLING"));
    b.poll(2);
    QCOMPARE(b.validator().mid(0, 2), QStringList({frames::NoResponseLine, QString()}));
    QCOMPARE(b.host().mid(0, 3), QStringList({hostLine(1), hostLine(1), QString()}));
    b.reply(2);
    QCOMPARE(b.validator().mid(0, 3), QStringList({frames::NoResponseLine, replyLine(2), QString()}));
}

void TestTrace::scrollAtSeventeenthHostLine()
{
    Bench b;
    run(b, 16);
    QCOMPARE(b.w->traceRow(), 16);
    QStringList host, validator;
    for (int n = 1; n <= 16; ++n) {
        host << hostLine(n);
        validator << replyLine(n);
    }
    QCOMPARE(b.host(), host);
    QCOMPARE(b.validator(), validator);

    // The 17th host line scrolls the host pane; the validator pane waits
    // one row behind for its reply.
    b.poll(17);
    QCOMPARE(b.w->traceRow(), 17);
    host.removeFirst();
    host << hostLine(17);
    QCOMPARE(b.host(), host);
    QCOMPARE(b.validator(), validator);
    b.reply(17);
    validator.removeFirst();
    validator << replyLine(17);
    QCOMPARE(b.validator(), validator);

    // From then on both scroll together.
    b.poll(18);
    QCOMPARE(b.w->traceRow(), 17);
    b.reply(18);
    host.removeFirst();
    host << hostLine(18);
    validator.removeFirst();
    validator << replyLine(18);
    QCOMPARE(b.host(), host);
    QCOMPARE(b.validator(), validator);
}

void TestTrace::outOfStepAfterBadChecksumWhenFull()
{
    Bench b;
    run(b, 17);
    b.poll(18);
    b.reply(18, false);  // a miss at once: one scrolled row
    b.poll(19);          // repeats 18 and writes the miss again: another row
    b.reply(19);

    QCOMPARE(b.host().mid(13), QStringList({hostLine(17), hostLine(18), hostLine(19, true, 18)}));
    QCOMPARE(b.validator().mid(12),
             QStringList({replyLine(17), frames::NoResponseLine, frames::NoResponseLine, replyLine(19)}));
    // Each row of the validator pane now belongs to the host row below it.
    QCOMPARE(b.w->Label20[11]->caption(), replyLine(16));
    QCOMPARE(b.w->Label18[12]->caption(), hostLine(16));
}

void TestTrace::secondReplyToOnePoll_data()
{
    QTest::addColumn<int>("polls");
    QTest::newRow("filling") << 3;
    QTest::newRow("full") << 17;
}

void TestTrace::secondReplyToOnePoll()
{
    QFETCH(int, polls);
    Bench b;
    run(b, polls);
    const QStringList before = b.validator();
    b.reply(99);
    QStringList after = before;
    if (polls < 17) {
        after[polls - 1] = replyLine(99);  // the row of the first reply, overwritten
    } else {
        after.removeFirst();  // one more scroll
        after << replyLine(99);
    }
    QCOMPARE(b.validator(), after);
}

void TestTrace::noRowBeforeFirstHostLine()
{
    // A first start in "Step Into" keeps the panes and sends with no
    // reply awaited: the miss has no row to go to.
    Bench b;
    b.w->Label15->setCaption(QStringLiteral(" OLD"));
    setCheckValue(b.w->Check4, 0);
    while (int(b.w->session()->mode()) != 2)
        b.w->Command1_Click();
    setCheckValue(b.w->Check4, 1);
    QCOMPARE(b.validator(), QStringList(16, QString()));
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" "));
    QCOMPARE(b.w->traceRow(), 1);
    QCOMPARE(b.w->Label18[0]->caption(), QStringLiteral(" 02 08 00 00 00 00 03 00 "));
}

void TestTrace::startClearsPanes()
{
    Bench b;
    run(b, 5);
    setCheckValue(b.w->Check4, 0);
    b.start(7);
    QStringList host(16, QString());
    host[0] = frames::hostTraceLine(frames::hostMessageFrom(0x10, 7, 0, 0));
    QCOMPARE(b.host(), host);
    QCOMPARE(b.validator(), QStringList(16, QString()));
    QCOMPARE(b.w->traceRow(), 1);
}

void TestTrace::lamps()
{
    Bench b;
    QCOMPARE(b.w->Shape2[0]->fillColor(), 64);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 64);
    QCOMPARE(b.w->LEDBlink->interval(), 24);
    QVERIFY(!b.w->LEDBlink->isEnabled());

    b.w->Text2->setText(QStringLiteral("60000"));  // no poll ticks meanwhile
    b.start(1);
    QCOMPARE(b.w->Shape2[0]->fillColor(), 255);
    QVERIFY(b.w->LEDBlink->isEnabled());
    b.reply(1);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 255);
    QTRY_COMPARE(b.w->Shape2[0]->fillColor(), 64);  // the lamp timer's one tick
    QCOMPARE(b.w->Shape2[1]->fillColor(), 64);
    QVERIFY(!b.w->LEDBlink->isEnabled());

    // A reply after the tick stays lit until the tick after the next poll.
    setCheckValue(b.w->Check4, 0);
    b.reply(2);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 255);
    QVERIFY(!b.w->LEDBlink->isEnabled());
    QTest::qWait(60);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 255);
    b.w->LEDBlink_Timer();
    QCOMPARE(b.w->Shape2[0]->fillColor(), 64);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 64);

    // A reply that does not start with STX lights nothing.
    b.fake->arrive(QByteArray(11, '\x06'));
    QCOMPARE(b.w->Shape2[1]->fillColor(), 64);
}

QTEST_MAIN(TestTrace)
#include "test_trace.moc"
