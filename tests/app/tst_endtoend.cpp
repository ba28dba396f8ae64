// The road of received lines through the real program: a pseudo-terminal as port 1, the window
// with its defaults, Open, characters from the device in pieces as real adapters hand them
// over, Log into a real file.

#include "tests/app/windowfixture.h"
#include "tests/support/testutil.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <memory>
#include <thread>

using namespace hexline;
using namespace Qt::StringLiterals;

namespace {

// What a list view shows, top row first.
QStringList shown(const QAbstractItemView* view)
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
        QAbstractItemView* view = textView();
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
        // The bar, repainted only where its slider moved, matches a plain bar's single paint.
        QScrollBar* bar = view->verticalScrollBar();
        QScrollBar plain(Qt::Vertical, bar->parentWidget());
        plain.setRange(bar->minimum(), bar->maximum());
        plain.setPageStep(bar->pageStep());
        plain.setValue(bar->value());
        plain.resize(bar->size());
        QCOMPARE(bar->grab().toImage(), plain.grab().toImage());
    }

    // A row the user made current, by a click or the keys, changes neither following nor holding,
    // also once its entry drops off the end of the list: no row is made current that the user
    // did not choose, and the view does not jump to one.
    void currentRowKeepsTheView_data()
    {
        QTest::addColumn<int>("lines");     // written first: with the two status entries, rows
        QTest::addColumn<bool>("scrolled"); // to the middle
        QTest::addColumn<int>("current");   // the row then made current
        QTest::addColumn<int>("pieces");    // of more lines, written after
        QTest::addColumn<int>("perPiece");
        QTest::newRow("at the top, a row near the top") << 28 << false << 2 << 6 << 100;
        QTest::newRow("in the middle, the oldest row") << 498 << true << 499 << 20 << 1;
    }

    void currentRowKeepsTheView()
    {
        QFETCH(int, lines);
        QFETCH(bool, scrolled);
        QFETCH(int, current);
        QFETCH(int, pieces);
        QFETCH(int, perPiece);
        openButton()->click();
        QAbstractItemView* view = textView();
        int line = 0;
        const auto write = [&](int n) {
            QByteArray piece;
            for (int i = 0; i < n; ++i)
                piece += QByteArray::number(++line) + 'D';
            return writePiece(piece);
        };
        QVERIFY(write(lines));
        QTRY_COMPARE(shown(view), test::entries(w_->textList()));
        // The keys move the current row and keep it in sight.
        const int h = view->visualRect(view->model()->index(0, 0)).height();
        const int page = view->viewport()->height() / h;
        view->setFocus();
        view->setCurrentIndex(view->model()->index(0, 0));
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 1);
        QTest::keyClick(view, Qt::Key_PageDown);
        QCOMPARE(view->currentIndex().row(), std::min(1 + page, lines + 1));
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->currentIndex().row(), lines + 1);
        QVERIFY(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->indexAt({1, 1}).row(), 0);
        // A click on a row in sight, or a row made current out of sight.
        const QModelIndex chosen = view->model()->index(current, 0);
        if (scrolled) {
            view->setCurrentIndex(chosen);
            view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
        } else {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->visualRect(chosen).center());
        }
        QCOMPARE(view->selectionModel()->selectedRows(), QModelIndexList{chosen});
        const QString chosenText = chosen.data().toString();
        const QString top = view->indexAt({1, 1}).data().toString();
        for (int i = 0; i < pieces; ++i) { // the chosen entry passes index 499 and drops off
            QVERIFY(write(perPiece));
            QTRY_COMPARE(view->indexAt({1, 1}).data().toString(),
                         scrolled ? top : w_->textList().entryAt(0));
        }
        QVERIFY(!view->currentIndex().isValid() ||
                view->currentIndex().data().toString() == chosenText);
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

    // While lines come faster than anyone reads them one by one, the window handles input, and so
    // paints, less often than the screen's rate, but often enough that a line is shown within
    // 50 ms; a slow device's lines show at the screen's rate. Events come as a busy window can
    // take them, so it is their mean spacing that keeps the rhythm.
    void frameRhythm_data()
    {
        QTest::addColumn<int>("linesPerSecond");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("leastMs"); // the mean spacing of the events
        QTest::addColumn<int>("mostMs");
        QTest::newRow("read one by one") << 15 << QByteArray(40, '7') + 'D' << 15 << 22;
        QTest::newRow("jump scroll") << 400 << QByteArray("12345D") << 35 << 42;
    }

    void frameRhythm()
    {
        QFETCH(int, linesPerSecond);
        QFETCH(QByteArray, line);
        openButton()->click();
        QElapsedTimer clock;
        clock.start();
        QList<qint64> events; // ms, once the rhythm has settled
        connect(&w_->serial(), &SerialComm::commEvent, this, [&] {
            if (clock.elapsed() >= 400)
                events.append(clock.elapsed());
        });
        std::thread device([&] { // writes what is due every millisecond
            const qint64 rate = linesPerSecond * line.size();
            for (qint64 sent = 0; clock.elapsed() < 1000; QThread::usleep(1000)) {
                const qint64 due = clock.elapsed() * rate / 1000;
                for (; sent < due; ++sent)
                    device_->write(line.mid(sent % line.size(), 1));
            }
        });
        QTest::qWait(1100);
        device.join();
        QVERIFY(events.size() > 2);
        const double mean = double(events.last() - events.first()) / double(events.size() - 1);
        QFETCH(int, leastMs);
        QFETCH(int, mostMs);
        QVERIFY2(mean >= leastMs && mean <= mostMs, qPrintable(u"%1 ms apart"_s.arg(mean)));
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
