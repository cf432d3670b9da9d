// The tester window from the keyboard: its one menu opens without a mouse.
#include "tester/main64k.h"

#include <QKeyEvent>
#include <QMenu>

void MAIN64K::keyPressEvent(QKeyEvent* event)
{
    // Some platforms turn the Menu key into a context menu event as well;
    // showTraceMenu() then finds its menu already open.
    const bool menuKey = event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        showTraceMenu();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

QMenu* MAIN64K::showTraceMenu()
{
    if (keyboardMenu_ && keyboardMenu_->isVisible())
        return keyboardMenu_;
    QMenu* menu = createTraceMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    keyboardMenu_ = menu;
    // Over the top of the panes, where a click would have opened it.
    menu->popup(mapToGlobal(traceArea().topLeft() + QPoint(8, 8)));
    // The first entry is highlighted, so the arrows and Enter work at once.
    for (QAction* a : menu->actions())
        if (a->isEnabled() && !a->isSeparator()) {
            menu->setActiveAction(a);
            break;
        }
    return menu;
}
