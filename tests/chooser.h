// Answers the display-scheme chooser as soon as it is up, and remembers
// what it looked like.
#pragma once

#include "startup/colorsheme.h"
#include "tester/widgets.h"

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

// What the chooser looked like while it was up.
struct ChooserFacts {
    bool shown = false;
    bool frameless = false;
    QSize size;
    QPoint centreOffset;
    QString title;
    QStringList captions;
    QList<QRect> places;
    bool firstHasFocus = false;
    bool anyDefault = true;
    QString family;
};

// Answers the chooser as soon as it is up: clicks button 0 or 1, or closes
// it without an answer (-1).
class ChooserDriver : public QObject {
public:
    explicit ChooserDriver(int answer) : answer_(answer)
    {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }
    ChooserFacts facts;

private:
    void look()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* c = qobject_cast<ColorSheme*>(w);
            if (!c || !c->isVisible() || QApplication::activeModalWidget())
                continue;
            timer_.stop();
            record(c);
            if (answer_ < 0)
                c->close();
            else
                QTest::mouseClick(c->Command1[answer_], Qt::LeftButton);
            return;
        }
    }
    void record(ColorSheme* c)
    {
        facts.shown = true;
        facts.frameless = c->windowFlags().testFlag(Qt::FramelessWindowHint);
        facts.size = c->size();
        facts.centreOffset = c->geometry().center() - c->screen()->geometry().center();
        facts.title = c->windowTitle();
        facts.captions = {c->Label1->caption(), c->Command1[0]->text(), c->Label2->caption(),
                          c->Command1[1]->text(), c->Label3->caption()};
        facts.places = {c->Frame1->geometry(),    c->Label1->geometry(), c->Command1[0]->geometry(),
                        c->Label2->geometry(),    c->Command1[1]->geometry(), c->Label3->geometry()};
        facts.firstHasFocus = c->focusWidget() == c->Command1[0];
        facts.anyDefault = false;
        for (auto* b : c->Command1)
            facts.anyDefault = facts.anyDefault || b->isDefault() || b->autoDefault();
        facts.family = c->font().family();
    }

    int answer_;
    QTimer timer_;
};
