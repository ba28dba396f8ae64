#include "serial/conversions.h"
#include "tests/support/testutil.h"

#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstConversions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void convert_data()
    {
        QTest::addColumn<bool>("port"); // else termination
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value"); // empty: refused
        const auto add = [](bool port, const QStringList& rows) {
            for (const QString& row : rows) {
                const QString text = row.section(u'=', 0, -2), value = row.section(u'=', -1);
                QTest::addRow("%s \"%s\"", port ? "port" : "term", qPrintable(text))
                    << port << text << value;
            }
        };
        // Each row is text=value; nothing after the last = means refused.
        add(true, {u"1=1"_s,
                   u"01=1"_s,
                   u"  7 =7"_s,
                   u"\t7="_s,
                   u"7\n="_s,
                   u"+5=5"_s,
                   u"-3=-3"_s,
                   u"-0=0"_s,
                   u"32767=32767"_s,
                   u"-32768=-32768"_s,
                   u"32768="_s,
                   u"-32769="_s,
                   u"99999999999999999999="_s,
                   u"="_s,
                   u"  ="_s,
                   u"abc="_s,
                   u"1.5="_s,
                   u"1,000="_s,
                   u"1 2="_s,
                   u"- 1="_s,
                   u"+="_s,
                   u"0x10="_s,
                   u"\u0663="_s,
                   u"\uff11="_s});
        // 8000..FFFF are the negative 16-bit patterns.
        add(false, {u"0D=13"_s,
                    u"0d=13"_s,
                    u"d=13"_s,
                    u"00D=13"_s,
                    u"0000000000000000000D=13"_s,
                    u" FF =255"_s,
                    u"0=0"_s,
                    u"7FFF=32767"_s,
                    u"8000=-32768"_s,
                    u"fffF=-1"_s,
                    u"0000FFFF=-1"_s,
                    u"10000="_s,
                    u"FFFFFFFFF="_s,
                    u"="_s,
                    u" ="_s,
                    u"0G="_s,
                    u"&H0D="_s,
                    u"0x0D="_s,
                    u"-1="_s,
                    u"0 D="_s,
                    u"0D\n="_s,
                    u"\r\n0D="_s,
                    u"\uff10D="_s});
    }

    void convert()
    {
        QFETCH(bool, port);
        QFETCH(QString, text);
        QFETCH(QString, value);
        qint16 result = 0;
        const auto message = test::failure(
            [&] { result = port ? portNumberFromText(text) : terminationFromText(text); });
        QCOMPARE(message.has_value(), value.isEmpty());
        if (!value.isEmpty())
            QCOMPARE(result, qint16(value.toInt()));
    }
};

QTEST_GUILESS_MAIN(TstConversions)
#include "tst_conversions.moc"
