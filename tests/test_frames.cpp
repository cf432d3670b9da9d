#include "link/frames.h"

#include <QTest>

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void hostMessage_data();
    void hostMessage();
};

void TestFrames::hostMessage_data() {}
void TestFrames::hostMessage() {}

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
