#include <QTest>

class TestLifecycle : public QObject {
    Q_OBJECT
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
