// The road of received lines through the real program: a pseudo-terminal as port 1, the window
// with its defaults, Open, characters from the device in pieces as real adapters hand them
// over, Log into a real file.

#include "tests/app/windowfixture.h"
#include "tests/support/testutil.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace hexline;
using namespace Qt::StringLiterals;

namespace {

// What a list view shows, top row first.
QStringList shown(const QListView* view)
{
    QStringList rows;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        rows.append(view->model()->index(i, 0).data().toString());
    return rows;
}

} // namespace

class TstEndToEnd : public QObject, test::WindowFixture {
    Q_OBJECT
    qint64 written_ = 0; // bytes the device wrote since the window was made

    // Writes one piece and waits until the window has processed it, so that every piece is a
    // read of its own. In binary mode an odd byte waits in the component for its partner.
    bool writePiece(const QByteArray& piece)
    {
        if (!device_->write(piece))
            return false;
        written_ += piece.size();
        const int unit = w_->serial().inputMode() == SerialComm::InputMode::Binary ? 2 : 1;
        return QTest::qWaitFor([&] {
            return w_->receiver().charactersProcessed() == written_ / unit &&
                   w_->serial().bytesWaiting() == written_ % unit;
        });
    }

private Q_SLOTS:
    void init()
    {
        written_ = 0;
        QVERIFY(startWindow());
    }
    void cleanup()
    {
        QCOMPARE(failures_->count(), 0);
        stopWindow();
    }

    void oneLineOpenReceiveLog()
    {
        QTest::mouseClick(openButton(), Qt::LeftButton);
        QVERIFY(w_->serial().isOpen());
        QVERIFY(writePiece("1A"));
        QCOMPARE(textTail()->text() + valueTail()->text(), u"1A1 10 "_s);
        QCOMPARE(w_->textList().count(), 2); // the line is still open
        QElapsedTimer sinceSent;
        sinceSent.start();
        QVERIFY(writePiece("D"));
        QCOMPARE(w_->textList().count(), 3);
        QCOMPARE(textTail()->text() + valueTail()->text(), u"1A1 10 "_s);
        // The views catch up with the lists at the next frame: the ended line is on the screen
        // well within half a second of its terminator, even on a busy machine, where a user would
        // take a delay of seconds for a fault.
        QTRY_COMPARE(shown(textView()) + shown(valueView()),
                     test::entries(w_->textList()) + test::entries(w_->valueList()));
        QVERIFY2(sinceSent.elapsed() < 500, qPrintable(u"%1 ms"_s.arg(sinceSent.elapsed())));

        QTest::mouseClick(logButton(), Qt::LeftButton);
        QCOMPARE(test::readFile(w_->logPath()),
                 test::readFile(QStringLiteral(GOLDEN_DIR "/example.txt")));
        // Log leaves the port, the buttons and the live labels alone; later lines land in the
        // emptied lists.
        QCOMPARE(w_->textList().count() + w_->valueList().count(), 0);
        QVERIFY(w_->serial().isOpen() && !openButton()->isEnabled() && closeButton()->isEnabled());
        QCOMPARE(textTail()->text(), u"1A"_s);
        QVERIFY(writePiece("FD"));
        QCOMPARE(w_->textList().count(), 1);
        QCOMPARE(w_->valueList().entryAt(0), u"15 "_s);
        QTRY_COMPARE(shown(textView()) + shown(valueView()), (QStringList{u"F"_s, u"15 "_s}));
    }

    // What the list views show on the screen is what the lists hold, row for row, once the next
    // frame has come: whether the rows drawn before were moved by their pixels (the view at the
    // top) or stayed where they were (the user scrolled away), and the scroll bar, repainted
    // only when its slider moves, as a fresh paint of it.
    void screenFollowsLists_data()
    {
        QTest::addColumn<bool>("scrolledAway");
        QTest::newRow("at the top") << false;
        QTest::newRow("scrolled away") << true;
    }

    void screenFollowsLists()
    {
        QFETCH(bool, scrolledAway);
        openButton()->click();
        QVERIFY(w_->serial().isOpen());
        QListView* view = textView();
        int line = 0;
        const auto write = [&](int lines) { // lines of hex digits without a D, each ended by D
            QByteArray piece;
            for (int i = 0; i < lines; ++i)
                piece += QByteArray::number(++line * 4099, 16).toUpper().replace('D', '7') + 'D';
            const bool written = writePiece(piece);
            QTest::qWait(20); // a frame
            return written;
        };
        QVERIFY(write(40));
        QTRY_COMPARE(shown(textView()), test::entries(w_->textList()));
        QString top;
        if (scrolledAway) {
            view->verticalScrollBar()->setValue(
                3 * view->visualRect(view->model()->index(0, 0)).height());
            top = view->indexAt({1, 1}).data().toString();
        }
        for (int lines : {1, 2, 5, 1, 30, 3, 1})
            QVERIFY(write(lines));
        QTRY_COMPARE(shown(textView()) + shown(valueView()),
                     test::entries(w_->textList()) + test::entries(w_->valueList()));
        QCOMPARE(view->indexAt({1, 1}).data().toString(),
                 scrolledAway ? top : w_->textList().entryAt(0));
        const QPoint at = view->mapTo(w_.get(), QPoint());
        const auto onScreen = [&] {
            return w_->screen()
                ->grabWindow(w_->winId(), at.x(), at.y(), view->width(), view->height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        QTRY_VERIFY(onScreen() == view->grab().toImage().convertToFormat(QImage::Format_RGB32));
        // A tall repaint of the bar, drawn band by band, matches a plain bar's single paint.
        QScrollBar* bar = view->verticalScrollBar();
        QScrollBar plain(Qt::Vertical, bar->parentWidget());
        plain.setRange(bar->minimum(), bar->maximum());
        plain.setPageStep(bar->pageStep());
        plain.setValue(bar->value());
        plain.resize(bar->size());
        QVERIFY(bar->height() > 100); // bands of 47 rows
        QCOMPARE(bar->grab().toImage(), plain.grab().toImage());
    }

    // A line reaches the lists whole however the device cuts it into reads.
    void lineInPieces_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArrayList>("pieces"); // an empty piece: Close, then Open
        QTest::addColumn<QString>("text");          // the newest entries
        QTest::addColumn<QString>("values");
        const QByteArray line = "9AbF3D";
        const QString text = u"9AbF3"_s, values = u"9 10 11 15 3 "_s;
        for (qsizetype cut = 1; cut < line.size(); ++cut)
            QTest::addRow("cut after %lld", qlonglong(cut))
                << u"t"_s << QByteArrayList{line.left(cut), line.mid(cut)} << text << values;
        QByteArrayList bytes;
        for (char c : line)
            bytes << QByteArray(1, c);
        QTest::newRow("one byte per read") << u"t"_s << bytes << text << values;
        const QByteArray sevens(100, '7');
        QTest::newRow("forced break over three reads")
            << u"t"_s << QByteArrayList{sevens, sevens, "A"}
            << u"-break- "_s + QString(200, u'7') + u'A'
            << u"-break- "_s + u"7 "_s.repeated(200) + u"10 "_s;
        QTest::newRow("Open drops the piece of the last opening")
            << u"t"_s << QByteArrayList{"12", {}, "3D"} << u"3"_s << u"3 "_s;
        // In binary mode a character is a byte pair; a pair cut between reads is one character.
        QTest::newRow("binary, pairs cut between reads")
            << u"b"_s
            << QByteArrayList{QByteArray("1\0A", 3), QByteArray("\0D", 2), QByteArray(1, '\0')}
            << u"1A"_s << u"1 10 "_s;
    }

    void lineInPieces()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArrayList, pieces);
        modeEdit()->setText(mode);
        openButton()->click();
        QVERIFY(w_->serial().isOpen());
        for (const QByteArray& piece : pieces) {
            if (piece.isEmpty()) {
                closeButton()->click();
                openButton()->click();
                QVERIFY(w_->serial().isOpen());
            } else {
                QVERIFY(writePiece(piece));
            }
        }
        QTEST(w_->textList().entryAt(0), "text");
        QTEST(w_->valueList().entryAt(0), "values");
        QCOMPARE(w_->textList().entryAt(1), u"COMM 1 open."_s); // one entry for the line, no more
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
