// The window as an accessibility client reads it: every label is static
// text named by its caption as shown, found by the control's name; lamps
// say whether they are lit; panes and tally are described; a caption
// change is announced once while a client listens and costs nothing when
// none does.
#include "windowbench.h"
#include "tester/main64k.h"
#include "tester/widgets.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>

#ifdef POLLBENCH_QPA_ACCESSIBILITY
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#endif

#include <vector>

namespace {

// Every event sent to accessibility clients, while installed.
struct Recorder {
    struct Seen {
        QObject* object;
        QAccessible::Event type;
    };
    static inline std::vector<Seen> seen;

    Recorder()
    {
        seen.clear();
        previous_ = QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
            seen.push_back({e->object(), e->type()});
        });
    }
    ~Recorder() { QAccessible::installUpdateHandler(previous_); }

    static int count(QObject* object, QAccessible::Event type)
    {
        int n = 0;
        for (const Seen& s : seen)
            n += s.object == object && s.type == type;
        return n;
    }

private:
    QAccessible::UpdateHandler previous_ = nullptr;
};

// Turns the platform's accessibility on, as a screen reader coming up would,
// and off again at the end of the scope. Without a platform bridge (the
// offscreen platform has none) only the platform's own switch does this.
class ClientListening {
public:
    ClientListening()
    {
#ifdef POLLBENCH_QPA_ACCESSIBILITY
        if (QPlatformIntegration* p = QGuiApplicationPrivate::platformIntegration())
            a11y_ = p->accessibility();
        if (a11y_)
            a11y_->setActive(true);
#endif
    }
    ~ClientListening()
    {
#ifdef POLLBENCH_QPA_ACCESSIBILITY
        if (a11y_)
            a11y_->setActive(false);
#endif
    }

private:
#ifdef POLLBENCH_QPA_ACCESSIBILITY
    QPlatformAccessibility* a11y_ = nullptr;
#endif
};

// A window after one poll and one reply: the reply holds a note in escrow on
// channel 3 and reports one stacked there, so the state and event boxes,
// a count and both panes all have something to say.
struct Polled : WindowBench {
    Polled()
    {
        w->show();
        setCheckValue(control<QPushButton>("Check4"), 1);
        fake->arrive(replyBytes({0x14, 0, 3 << 3, 0, 0, 0}));
    }
    template <typename T = Label>
    T* control(const QString& name) const
    {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
};

QStringList names(const QString& stem, int count)
{
    QStringList l;
    for (int i = 0; i < count; ++i)
        l << QStringLiteral("%1_%2").arg(stem).arg(i);
    return l;
}

QString nameOf(QObject* o)
{
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(o);
    return i ? i->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

}  // namespace

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    void labelsReadAsStaticText_data();
    void labelsReadAsStaticText();
    void captionsWithBlanksAsShown();
    void lampsSayOnAndOff();
    void buttonsKeepTheirRole();
    void panesAndTallyDescribed();
    void captionChangeAnnouncedOnceWhileListening();
    void nothingDoneWithoutClient();
};

void TestAccess::labelsReadAsStaticText_data()
{
    QTest::addColumn<QStringList>("controls");
    QTest::newRow("host pane") << names("Label18", 16);
    QTest::newRow("validator pane") << names("Label20", 16);
    QTest::newRow("status boxes") << QStringList{"Label14", "Label15", "Label13"};
    QTest::newRow("status captions") << QStringList{"Label12_0", "Label12_1", "Label16"};
    QTest::newRow("channel names") << names("Label8", 13);
    QTest::newRow("counts") << names("Label9", 13);
}

void TestAccess::labelsReadAsStaticText()
{
    QFETCH(QStringList, controls);
    Polled b;
    for (const QString& name : controls) {
        Label* l = b.control(name);
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(l);
        QVERIFY2(i && i->isValid(), qPrintable(name));
        QCOMPARE(i->object(), l);
        QCOMPARE(i->role(), QAccessible::StaticText);
        QCOMPARE(i->text(QAccessible::Name), l->caption());
        QVERIFY2(!i->state().invisible, qPrintable(name));
    }
}

void TestAccess::captionsWithBlanksAsShown()
{
    Polled b;
    const QString hostRow = b.control("Label18_0")->caption();
    const QString replyRow = b.control("Label20_0")->caption();
    QVERIFY(hostRow.startsWith(QStringLiteral(" 02 08 ")));
    QVERIFY(replyRow.startsWith(QStringLiteral(" 02 0B ")));
    const QList<std::pair<QString, QString>> expected{
        {"Label18_0", hostRow},
        {"Label20_0", replyRow},
        {"Label18_1", QString()},
        {"Label14", " RUNNING"},
        {"Label15", " ESCROWED"},
        {"Label13", " "},  // the first reply to name a channel shows no event
        {"Label12_0", "HOST  COMMAND"},
        {"Label12_1", "VALIDATOR  STATE"},
        {"Label16", "VALIDATOR  EVENT"},
        {"Label8_0", "CH1"},
        {"Label8_12", "CH13"},
        {"Label9_2", "1"},
        {"Label9_3", "0"},
        {"Label1", "START POLL"},
    };
    for (const auto& [name, text] : expected)
        QCOMPARE(nameOf(b.control(name)), text);

    // Once the switch is released the host box says so, leading blank and all.
    setCheckValue(b.control<QPushButton>("Check4"), 0);
    QCOMPARE(nameOf(b.control("Label14")), QStringLiteral(" SYSTEM SUSPENDED"));
}

void TestAccess::lampsSayOnAndOff()
{
    WindowBench b;
    b.w->findChild<QLineEdit*>("Text2")->setText(QStringLiteral("60000"));  // no poll tick meanwhile
    auto value = [&](const char* name) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b.w->findChild<Lamp*>(name));
        return std::pair(i->text(QAccessible::Value), bool(i->state().checked));
    };
    for (const auto& [name, caption] : {std::pair("Shape2_0", "Host lamp"), std::pair("Shape2_1", "Validator lamp")}) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b.w->findChild<Lamp*>(name));
        QVERIFY(i);
        QCOMPARE(i->role(), QAccessible::Indicator);
        QCOMPARE(i->text(QAccessible::Name), QString::fromLatin1(caption));
        QCOMPARE(value(name), std::pair(QStringLiteral("off"), false));
    }

    setCheckValue(b.w->findChild<QPushButton*>("Check4"), 1);
    QCOMPARE(value("Shape2_0"), std::pair(QStringLiteral("on"), true));
    QCOMPARE(value("Shape2_1"), std::pair(QStringLiteral("off"), false));
    b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QCOMPARE(value("Shape2_1"), std::pair(QStringLiteral("on"), true));
    // The lamp timer's tick dims both.
    QTRY_COMPARE(value("Shape2_0"), std::pair(QStringLiteral("off"), false));
    QCOMPARE(value("Shape2_1"), std::pair(QStringLiteral("off"), false));
}

void TestAccess::buttonsKeepTheirRole()
{
    WindowBench b;
    QPushButton plain, toggle;
    toggle.setCheckable(true);
    const QAccessible::Role push = QAccessible::queryAccessibleInterface(&plain)->role();
    const QAccessible::Role pushToggle = QAccessible::queryAccessibleInterface(&toggle)->role();
    const QList<std::tuple<QString, QAccessible::Role, QString>> buttons{
        {"Command1", push, "Normal Poll"},
        {"Command2", push, "Reset Totals"},
        {"Check6", pushToggle, "Escrow Enable"},
        {"Check4", pushToggle, "START POLL"},  // a picture only: named by its caption beneath
    };
    for (const auto& [name, role, text] : buttons) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b.w->findChild<QPushButton*>(name));
        QVERIFY2(i, qPrintable(name));
        QCOMPARE(i->role(), role);
        QCOMPARE(i->text(QAccessible::Name), text);
    }
    // Lines are nothing to read and stay plain widgets.
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(b.w->findChild<Line*>("Line1"));
    QVERIFY(line);
    QVERIFY(line->role() != QAccessible::StaticText);
    QCOMPARE(line->text(QAccessible::Name), QString());
}

void TestAccess::panesAndTallyDescribed()
{
    WindowBench b;
    auto description = [&](const QString& name) {
        QObject* o = b.w->findChild<QWidget*>(name);
        return o ? QAccessible::queryAccessibleInterface(o)->text(QAccessible::Description) : QString();
    };
    for (const QString& row : names("Label18", 16))
        QCOMPARE(description(row), QStringLiteral("Host messages"));
    for (const QString& row : names("Label20", 16))
        QCOMPARE(description(row), QStringLiteral("Validator replies"));
    QCOMPARE(description("Frame2"), QStringLiteral("Notes stacked per channel"));
    // The tally's frame keeps its heading as its name; the counts inside it
    // have their own.
    QCOMPARE(nameOf(b.w->findChild<QWidget*>("Label9_0")), QStringLiteral("0"));
}

void TestAccess::captionChangeAnnouncedOnceWhileListening()
{
#ifndef POLLBENCH_QPA_ACCESSIBILITY
    QSKIP("built without Qt's platform headers: accessibility cannot be switched on here");
#endif
    Polled b;
    Label* state = b.control("Label15");
    Label* count = b.control("Label9_2");
    ClientListening listening;
    if (!QAccessible::isActive())
        QSKIP("this platform's accessibility cannot be switched on");
    Recorder r;

    state->setCaption(QStringLiteral(" STACKING"));
    QCOMPARE(Recorder::count(state, QAccessible::NameChanged), 1);
    QCOMPARE(nameOf(state), QStringLiteral(" STACKING"));
    // The same caption again is no change.
    state->setCaption(QStringLiteral(" STACKING"));
    QCOMPARE(Recorder::count(state, QAccessible::NameChanged), 1);

    // A reply through the line: the state box and the first free row of the
    // validator pane change once each; the count of channel 3 stays "1".
    setCheckValue(b.control<QPushButton>("Check4"), 0);
    setCheckValue(b.control<QPushButton>("Check4"), 1);  // a new start clears the panes
    Recorder::seen.clear();
    b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QCOMPARE(nameOf(state), QStringLiteral(" IDLING"));
    QCOMPARE(Recorder::count(state, QAccessible::NameChanged), 1);
    QCOMPARE(Recorder::count(b.control("Label20_0"), QAccessible::NameChanged), 1);
    QCOMPARE(Recorder::count(b.control("Label20_1"), QAccessible::NameChanged), 0);
    QCOMPARE(Recorder::count(count, QAccessible::NameChanged), 0);
}

// With no client, a caption change must not even build an accessibility
// object: Qt would build one for any event sent, so a label that was never
// asked for one has sent none.
void TestAccess::nothingDoneWithoutClient()
{
    {
        Label first;  // the window's factory in place, so the one below is asked before it
    }
    static QSet<QObject*> asked;
    asked.clear();
    const QAccessible::InterfaceFactory record = [](const QString&, QObject* o) -> QAccessibleInterface* {
        asked.insert(o);
        return nullptr;
    };
    QAccessible::installFactory(record);
    WindowBench b;  // never shown: nothing else asks about its controls
    QVERIFY(!QAccessible::isActive());
    setCheckValue(b.w->findChild<QPushButton*>("Check4"), 1);
    b.fake->arrive(replyBytes({0x14, 0, 3 << 3, 0, 0, 0}));
    QAccessible::removeFactory(record);

    const QStringList changed{"Label14", "Label15", "Label9_2"};
    for (const QString& name : changed) {
        Label* l = b.w->findChild<Label*>(name);
        QVERIFY(l->caption() != QLatin1StringView(name == "Label9_2" ? "0" : ""));
        QVERIFY2(!asked.contains(l), qPrintable(name));
    }
    // Still readable on demand.
    QCOMPARE(nameOf(b.w->findChild<Label*>("Label15")), QStringLiteral(" ESCROWED"));
}

QTEST_MAIN(TestAccess)
#include "test_access.moc"
