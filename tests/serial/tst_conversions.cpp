#include "conversions.h"
#include "error.h"

#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstConversions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portNumber_data();
    void portNumber();
    void termination_data();
    void termination();
};

namespace {

void addRows(const QList<std::pair<QString, int>>& accepted, const QStringList& refused)
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    for (const auto& [text, value] : accepted)
        QTest::newRow(qPrintable(u'"' + text + u'"')) << text << true << value;
    for (const QString& text : refused)
        QTest::newRow(qPrintable(u'"' + text + u'"')) << text << false << 0;
}

} // namespace

void TstConversions::portNumber_data()
{
    // clang-format off
    addRows({{u"1"_s, 1}, {u"01"_s, 1}, {u" \t7 "_s, 7}, {u"+5"_s, 5}, {u"-3"_s, -3}, {u"-0"_s, 0},
             {u"32767"_s, 32767}, {u"-32768"_s, -32768}},
            {u"32768"_s, u"-32769"_s, u"99999999999999999999"_s, u""_s, u"  "_s, u"abc"_s,
             u"1.5"_s, u"1,000"_s, u"1 2"_s, u"- 1"_s, u"+"_s, u"0x10"_s, u"\u0663"_s, u"\uff11"_s});
    // clang-format on
}

void TstConversions::portNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    if (ok)
        QCOMPARE(portNumberFromText(text), qint16(value));
    else
        QVERIFY_THROWS_EXCEPTION(Error, portNumberFromText(text));
}

void TstConversions::termination_data()
{
    // 8000..FFFF are the negative 16-bit patterns.
    // clang-format off
    addRows({{u"0D"_s, 13}, {u"0d"_s, 13}, {u"d"_s, 13}, {u"00D"_s, 13},
             {u"0000000000000000000D"_s, 13}, {u" FF "_s, 255}, {u"0"_s, 0}, {u"7FFF"_s, 32767},
             {u"8000"_s, -32768}, {u"fffF"_s, -1}, {u"0000FFFF"_s, -1}},
            {u"10000"_s, u"FFFFFFFFF"_s, u""_s, u" "_s, u"0G"_s, u"&H0D"_s, u"0x0D"_s, u"-1"_s,
             u"0 D"_s, u"\uff10D"_s});
    // clang-format on
}

void TstConversions::termination()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    if (ok)
        QCOMPARE(terminationFromText(text), qint16(value));
    else
        QVERIFY_THROWS_EXCEPTION(Error, terminationFromText(text));
}

QTEST_GUILESS_MAIN(TstConversions)
#include "tst_conversions.moc"
