// Closes modal boxes as they open, through the widget tree, and remembers
// what they said; a test that meets a box never hangs on it.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

class ModalCloser : public QObject {
public:
    QStringList titles;
    QStringList texts;

    ModalCloser()
    {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles << box->windowTitle();
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    int count() const { return int(texts.size()); }

private:
    QTimer timer_;
};
