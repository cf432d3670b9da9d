#include "tester/accessible.h"

#include "tester/label.h"
#include "tester/lamp.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// A label is drawn, not set as text, so without this an accessibility
// client would see a nameless frame: here it reads what a QLabel offers,
// static text named by the caption exactly as shown, blanks included.
class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(Label* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? static_cast<const Label*>(widget())->caption() : name;
        }
        return QAccessibleWidget::text(t);
    }
};

// A lamp: its name is given by the window, its value says whether it is lit.
// Blinks are not announced: at every poll each lamp goes on and off again,
// which would flood a client; the value is read when asked for.
class LampAccessible : public QAccessibleWidget {
public:
    explicit LampAccessible(Lamp* lamp) : QAccessibleWidget(lamp, QAccessible::Indicator) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<const Lamp*>(widget())->isLit() ? QStringLiteral("on") : QStringLiteral("off");
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checked = static_cast<const Lamp*>(widget())->isLit();
        return s;
    }
};

// Asked with the class name of each class an object derives from, most
// derived first; buttons and lines fall through to Qt's own interfaces.
QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (className == QLatin1StringView("Label"))
        return new LabelAccessible(static_cast<Label*>(object));
    if (className == QLatin1StringView("Lamp"))
        return new LampAccessible(static_cast<Lamp*>(object));
    return nullptr;
}

}  // namespace

void installAccessibleFactory()
{
    static const bool installed = (QAccessible::installFactory(accessibleFor), true);
    Q_UNUSED(installed);
}
