// Text to 16-bit and 32-bit whole numbers, as the settings file and the
// operator's entries are read.
#include "settings/decimal.h"

#include <QTest>

class TestDecimal : public QObject {
    Q_OBJECT
private slots:
    void toInt16_data();
    void toInt16();
    void toInt32_data();
    void toInt32();
};

// expected: the number, or "fail"
void TestDecimal::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const char* rows[][2] = {
        {"0", "0"},         {"42", "42"},       {"  42  ", "42"},    {"\t7 ", "7"},
        {"+5", "5"},        {"-5", "-5"},       {" -12 ", "-12"},    {"007", "7"},
        {"0.5", "0"},       {"1.5", "2"},       {"2.5", "2"},        {"3.5", "4"},
        {"-0.5", "0"},      {"-1.5", "-2"},     {"-2.5", "-2"},      {"2.5001", "3"},
        {"1.", "1"},        {".5", "0"},        {"-.6", "-1"},       {"32767", "32767"},
        {"32767.4", "32767"}, {"32767.5", "fail"}, {"32768", "fail"}, {"-32768", "-32768"},
        {"-32768.5", "-32768"}, {"-32768.6", "fail"}, {"-32769", "fail"},
        {"99999999999999999999999", "fail"},
        {"", "fail"},       {"   ", "fail"},    {"+", "fail"},       {"-", "fail"},
        {".", "fail"},      {"1e3", "fail"},    {"0x10", "fail"},    {"1,000", "fail"},
        {"1 2", "fail"},    {"--1", "fail"},    {"+-1", "fail"},     {"1.2.3", "fail"},
        {"abc", "fail"},    {"3a", "fail"},     {"COM1", "fail"},
    };
    for (const auto& r : rows)
        QTest::addRow("\"%s\"", r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
}

void TestDecimal::toInt16()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto v = ::toInt16(text);
    QCOMPARE(v ? QString::number(*v) : QStringLiteral("fail"), expected);
}

void TestDecimal::toInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const char* rows[][2] = {
        {"7", "7"},
        {"40000", "40000"},
        {" -40000.5 ", "-40000"},
        {"2147483647", "2147483647"},
        {"2147483647.4", "2147483647"},
        {"2147483647.5", "fail"},
        {"2147483648", "fail"},
        {"-2147483648", "-2147483648"},
        {"-2147483648.5", "-2147483648"},
        {"-2147483649", "fail"},
        {"", "fail"},
        {"1e3", "fail"},
    };
    for (const auto& r : rows)
        QTest::addRow("\"%s\"", r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
}

void TestDecimal::toInt32()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto v = ::toInt32(text);
    QCOMPARE(v ? QString::number(*v) : QStringLiteral("fail"), expected);
}

QTEST_APPLESS_MAIN(TestDecimal)
#include "test_decimal.moc"
