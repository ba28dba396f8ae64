#include "error.h"
#include "linesettings.h"

#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstLineSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TstLineSettings::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result"); // the canonical text, or a word the refusal must contain

    const QList<std::pair<QString, QString>> rows{
        {u"9600,N,8,1"_s, u"9600,N,8,1"_s},
        {u" 115200 , e , 7 , 2 "_s, u"115200,E,7,2"_s},
        {u"300,o,5,1"_s, u"300,O,5,1"_s},
        {u"1200,M,6,2"_s, u"1200,M,6,2"_s},
        {u"1,s,8,1"_s, u"1,S,8,1"_s},
        {u"2147483647,N,8,1"_s, u"2147483647,N,8,1"_s},
        {u"000000000000009600,N,8,1"_s, u"9600,N,8,1"_s},
        {u""_s, u"four"_s},
        {u"9600,N,8"_s, u"four"_s},
        {u"9600,N,8,1,"_s, u"four"_s},
        {u"9600;N;8;1"_s, u"four"_s},
        {u"0,N,8,1"_s, u"baud"_s},
        {u"-9600,N,8,1"_s, u"baud"_s},
        {u"96O0,N,8,1"_s, u"baud"_s},
        {u"9600.5,N,8,1"_s, u"baud"_s},
        {u"2147483648,N,8,1"_s, u"baud"_s},
        {u"99999999999999999999,N,8,1"_s, u"baud"_s},
        {u",N,8,1"_s, u"baud"_s},
        {u"9600,X,8,1"_s, u"parity"_s},
        {u"9600,NO,8,1"_s, u"parity"_s},
        {u"9600,,8,1"_s, u"parity"_s},
        {u"9600,N,4,1"_s, u"data bits"_s},
        {u"9600,N,9,1"_s, u"data bits"_s},
        {u"9600,N,8,0"_s, u"stop bits"_s},
        {u"9600,N,8,3"_s, u"stop bits"_s},
#ifdef Q_OS_WIN
        {u"9600,N,8,1.5"_s, u"9600,N,8,1.5"_s},
#else
        {u"9600,N,8,1.5"_s, u"stop bits"_s}, // termios cannot do it
#endif
    };
    for (const auto& [text, result] : rows)
        QTest::newRow(qPrintable(u'"' + text + u'"')) << text << result;
}

void TstLineSettings::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    const bool accepted = result.contains(u',');
    try {
        const QString canonical = toString(parseLineSettings(text));
        QVERIFY2(accepted, "accepted");
        QCOMPARE(canonical, result);
    } catch (const Error& e) {
        QVERIFY2(!accepted && e.message().contains(result, Qt::CaseInsensitive),
                 qPrintable(e.message()));
    }
}

QTEST_GUILESS_MAIN(TstLineSettings)
#include "tst_linesettings.moc"
