#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
