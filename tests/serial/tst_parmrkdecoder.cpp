// The decoder of a terminal's error marks, over streams cut into reads at every place.
#include "serial/parmrkdecoder.h"

#include <QTest>

using namespace hexline;

class TstParmrkDecoder : public QObject {
    Q_OBJECT

    // Decodes stream in reads that end at the given places, each read decoded in place as the
    // component does.
    static QByteArray decoded(const QByteArray& stream, const QList<qsizetype>& ends)
    {
        ParmrkDecoder decoder;
        QByteArray out;
        qsizetype from = 0;
        for (qsizetype end : ends) {
            QByteArray read = stream.mid(from, end - from);
            read.truncate(decoder.decode(read.constData(), read.size(), read.data()));
            out += read;
            from = end;
        }
        return out;
    }

private Q_SLOTS:
    void streams_data()
    {
        QTest::addColumn<QByteArray>("stream"); // as the terminal hands it over
        QTest::addColumn<QByteArray>("bytes");  // as Input returns it
        const auto row = [](const char* name, const QByteArray& stream, const QByteArray& bytes) {
            QTest::newRow(name) << stream << bytes;
        };
        // Octal escapes, which end after three digits.
        // clang-format off
        row("no marks", "12AD", "12AD");
        row("doubled \\377", "1\377\3772", "1\3772");
        row("parity error", QByteArray("1\377\0007D", 5), "1?D");
        row("error on \\377 and on NUL", QByteArray("\377\000\377\377\000\000", 6), "??");
        row("marks back to back", QByteArray("\377\377\377\000A\377\377", 7), "\377?\377");
        row("mark at the very end", QByteArray("AD\377\0005", 5), "AD?");
        // Never written by a terminal; taken as damaged rather than passed on.
        row("\\377 before another byte", "\377A3", "?3");
        // clang-format on
    }

    void streams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, bytes);
        QCOMPARE(decoded(stream, {stream.size()}), bytes);
        // Two reads, cut at every place, and one byte per read: a cut mark waits for its end.
        QList<qsizetype> eachByte;
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            QCOMPARE(decoded(stream, {cut, stream.size()}), bytes);
            eachByte << cut;
        }
        QCOMPARE(decoded(stream, eachByte), bytes);
        // A lone \377 at the end is held back, not passed on.
        QCOMPARE(decoded(stream + '\xff', {stream.size() + 1}), bytes);
    }
};

QTEST_APPLESS_MAIN(TstParmrkDecoder)
#include "tst_parmrkdecoder.moc"
