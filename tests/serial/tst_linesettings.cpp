#include "serial/linesettings.h"
#include "tests/support/testutil.h"

#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstLineSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result"); // the canonical text, or a word the refusal contains
        const QList<std::pair<QString, QStringList>> rows{
            {u"9600,N,8,1"_s, {u"9600,N,8,1"_s, u"000000000000009600,N,8,1"_s}},
            {u"115200,E,7,2"_s, {u" 115200 , e , 7 , 2 "_s}},
            {u"300,O,5,1"_s, {u"300,o,5,1"_s}},
            {u"1200,M,6,2"_s, {u"1200,M,6,2"_s}},
            {u"1,S,8,1"_s, {u"1,s,8,1"_s}},
            {u"2147483647,N,8,1"_s, {u"2147483647,N,8,1"_s}},
            {u"four"_s, {u""_s, u"9600,N,8"_s, u"9600,N,8,1,"_s, u"9600;N;8;1"_s}},
            {u"baud"_s,
             {u"0,N,8,1"_s, u"-9600,N,8,1"_s, u"96O0,N,8,1"_s, u"9600.5,N,8,1"_s,
              u"2147483648,N,8,1"_s, u"99999999999999999999,N,8,1"_s, u",N,8,1"_s}},
            {u"parity"_s, {u"9600,X,8,1"_s, u"9600,NO,8,1"_s, u"9600,,8,1"_s}},
            {u"data bits"_s, {u"9600,N,4,1"_s, u"9600,N,9,1"_s, u"9600,N,88,1"_s, u"9600,N,,1"_s}},
#ifdef Q_OS_WIN
            {u"stop bits"_s,
             { u"9600,N,8,0"_s,
               u"9600,N,8,3"_s }},
            {u"9600,N,8,1.5"_s,
             { u"9600,N,8,1.5"_s }},
#else
            // termios has no 1.5; every refusal names the same choice as the manual page
            {u"stop bits must be 1 or 2"_s, {u"9600,N,8,0"_s, u"9600,N,8,3"_s}},
            {u"use 1 or 2"_s, {u"9600,N,8,1.5"_s}},
#endif
        };
        for (const auto& [result, texts] : rows)
            for (const QString& text : texts)
                QTest::newRow(qPrintable(u'"' + text + u'"')) << text << result;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QString canonical;
        const QString message = test::failure([&] {
                                    canonical = toString(parseLineSettings(text));
                                }).value_or(QString());
        if (result.contains(u','))
            QCOMPARE(canonical, result);
        else
            QVERIFY2(canonical.isEmpty() && message.contains(result, Qt::CaseInsensitive),
                     qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TstLineSettings)
#include "tst_linesettings.moc"
