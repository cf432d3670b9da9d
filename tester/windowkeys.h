// Keys every window of its own beside the tester window answers.
#pragma once

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

// Escape and Ctrl+W close it, as they close a dialog or a document.
inline void closeOnEscapeAndCtrlW(QWidget* window)
{
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}
