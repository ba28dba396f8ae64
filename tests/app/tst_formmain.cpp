#include "app/entrydelegate.h"
#include "tests/app/windowfixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStaticText>
#include <QStringListModel>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstFormMain : public QObject, test::WindowFixture {
    Q_OBJECT

    bool showAndActivate()
    {
        w_->show();
        return QTest::qWaitForWindowExposed(w_.get()) && QTest::qWaitForWindowActive(w_.get());
    }

private Q_SLOTS:
    void init() { QVERIFY(startWindow(false)); }
    void cleanup()
    {
        stopWindow();
        QDir(ports_.path()).removeRecursively();
        QDir().mkpath(ports_.path());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QList<int>>("twips"); // left, top, width, height
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        const auto row = [](const QString& name, int index, const char* kind, QList<int> twips,
                            const QString& text, bool enabled = true) {
            QTest::addRow("%s%s", qPrintable(name),
                          index < 0 ? ""
                          : index   ? "(1)"
                                    : "(0)")
                << name << index << QByteArray(kind) << twips << text << enabled;
        };
        row(u"txtEND"_s, -1, "QLineEdit", {5220, 30, 405, 285}, u"0D"_s);
        row(u"List1"_s, -1, "QAbstractItemView", {60, 750, 8055, 6105}, {});
        row(u"Command2"_s, -1, "QPushButton", {1230, 60, 735, 315}, u"Open"_s);
        row(u"Command3"_s, -1, "QPushButton", {1230, 420, 735, 315}, u"Close"_s, false);
        row(u"txtPORT"_s, -1, "QLineEdit", {570, 60, 465, 285}, u"1"_s);
        row(u"txtMODE"_s, -1, "QLineEdit", {570, 360, 465, 285}, u"t"_s);
        row(u"Label1"_s, 0, "QLabel", {90, 120, 465, 225}, u"Port"_s);
        row(u"Label1"_s, 1, "QLabel", {90, 390, 465, 225}, u"Mode"_s);
        row(u"Label2"_s, -1, "QLabel", {90, 6960, 8025, 525}, {});
        row(u"Command4"_s, -1, "QPushButton", {6480, 270, 675, 315}, u"Log"_s);
        row(u"Label3"_s, -1, "QLabel", {8220, 6960, 8025, 525}, {});
        row(u"txtSETUP"_s, -1, "QLineEdit", {2250, 30, 2415, 285}, u"9600,N,8,1"_s);
        row(u"List2"_s, -1, "QAbstractItemView", {8190, 750, 8055, 6105}, {});
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(QList<int>, twips);
        QFETCH(QByteArray, kind);
        QWidget* c = control(name, index);
        QVERIFY(c);
        QVERIFY2(c->inherits(kind), c->metaObject()->className()); // or one that draws its own way
        QCOMPARE(c->geometry(), QRect(twips[0] / 15, twips[1] / 15, twips[2] / 15, twips[3] / 15));
        QTEST(c->isEnabled(), "enabled");
        if (auto* list = qobject_cast<QAbstractItemView*>(c))
            QCOMPARE(list->model()->rowCount(), 0);
        else
            QTEST(c->property("text").toString(), "text");
        // Only the Mode label has a tool tip; no control sets a font of its own.
        QCOMPARE(c->toolTip(),
                 name == u"Label1"_s && index == 1 ? u"(t)ext mode , (b)inary mode"_s : QString());
        QVERIFY(!c->testAttribute(Qt::WA_SetFont));
    }

    void window()
    {
        QCOMPARE(w_->objectName(), u"frmMAIN"_s);
        QCOMPARE(w_->windowTitle(), u"Form1"_s);
        QVERIFY(showAndActivate());
        QCOMPARE((QList<QSize>{w_->size(), w_->minimumSize(), w_->maximumSize()}),
                 QList<QSize>(3, QSize(16350 / 15, 7680 / 15)));
        const Qt::WindowFlags flags = w_->windowFlags();
        QCOMPARE(w_->windowType(), Qt::Window);
        QVERIFY(flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint) &&
                !flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!w_->testAttribute(Qt::WA_SetFont));
        QCOMPARE(w_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(),
                 13); // no menu, nothing else
        QCOMPARE(w_->termValue(), qint16(0));
        QVERIFY(!w_->serial().isOpen());

        // Live labels look like a text field, caption labels like labels: check the painted pixels,
        // in a palette whose window and field colours differ whatever the style's do.
        QPalette distinct = w_->palette();
        distinct.setColor(QPalette::Window, Qt::lightGray);
        distinct.setColor(QPalette::Base, Qt::white);
        w_->setPalette(distinct);
        const auto looks = [this](QLabel* l, QPalette::ColorRole back, QPalette::ColorRole fore,
                                  const QPalette& palette) {
            const QImage image = w_->grab(l->geometry()).toImage();
            QHash<QRgb, int> counts; // the colour of most pixels, not of the text
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    ++counts[image.pixel(x, y)];
            const auto most = std::max_element(counts.keyValueBegin(), counts.keyValueEnd(),
                                               [](auto a, auto b) { return a.second < b.second; });
            return l->backgroundRole() == back && l->foregroundRole() == fore &&
                   QColor(most->first) == palette.color(back);
        };
        for (QLabel* live : {textTail(), valueTail()})
            QVERIFY(looks(live, QPalette::Base, QPalette::Text, live->palette()));
        for (int index : {0, 1}) {
            QLabel* caption = control<QLabel>(u"Label1"_s, index);
            QVERIFY(looks(caption, QPalette::Window, QPalette::WindowText, w_->palette()));
        }
    }

    // Most lines are drawn from glyphs placed by the program itself: a list entry and a live
    // label must show them on the pixels of a full text layout, kerning included; the others
    // are laid out in full. An entry too long for its row is elided, a caption is cut at the
    // edge. The style draws the item under the text: nothing for a plain row, the highlight and
    // focus frame for a selected, current one, drawn after a plain one by the same delegate.
    // Every line keeps the font's baseline: one that holds a character of a fallback font with a
    // larger ascent looks as the line without it where that character draws nothing.
    void linePixels_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("looksLike"); // empty: as the text laid out in full
        QTest::newRow("hex digits") << u"0123456789ABCDEF"_s << QString();
        QTest::newRow("kerned pairs") << u"AVAVA To 4.5 Ty"_s << QString();
        QTest::newRow("control picture") << u"1A\u240D"_s << QString();
        QTest::newRow("too long") << QString(3000, u'W') << QString();
        QTest::newRow("too long, kerned") << u"1 10 Ty AV "_s.repeated(60) << QString();
        QTest::newRow("fits but for trailing spaces")
            << u"4 11 2"_s + QString(100, u' ') << QString();
        QTest::newRow("ideographic space") << u"1A\u3000"_s << u"1A"_s;
    }

    void linePixels()
    {
        QFETCH(QString, text);
        QFETCH(QString, looksLike);
        if (looksLike.isEmpty())
            looksLike = text;
        const QRect row(0, 0, 200, 20);
        QStyleOptionViewItem option;
        option.rect = row;
        option.font = textView()->font();
        option.fontMetrics = QFontMetrics(option.font);
        option.palette = textView()->palette();
        QStringListModel model({text});
        EntryDelegate delegate;
        for (const QStyle::State selected :
             {QStyle::State(QStyle::State_None), QStyle::State_Selected | QStyle::State_HasFocus}) {
            option.state = QStyle::State_Enabled | QStyle::State_Active | selected;
            QImage drawn(row.size(), QImage::Format_ARGB32_Premultiplied);
            QImage expected = drawn;
            for (QImage* image : {&drawn, &expected}) {
                image->fill(Qt::white);
                QPainter p(image);
                if (image == &drawn) {
                    delegate.paint(&p, option, model.index(0));
                    continue;
                }
                // The style's item, then a full layout, elided when it does not fit.
                QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &option, &p);
                p.setFont(option.font);
                p.setPen(option.palette.color(QPalette::Active, selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
                QStaticText full(looksLike);
                full.setTextFormat(Qt::PlainText);
                full.prepare({}, option.font);
                if (full.size().width() > row.width() - 6)
                    full.setText(
                        option.fontMetrics.elidedText(looksLike, Qt::ElideRight, row.width() - 6));
                p.drawStaticText(3, (row.height() - option.fontMetrics.height()) / 2, full);
            }
            QCOMPARE(drawn, expected);
        }

        // The live label beside a plain QLabel set up as it is.
        QLabel* live = textTail();
        QLabel plain;
        plain.setTextFormat(live->textFormat());
        plain.setAutoFillBackground(live->autoFillBackground());
        plain.setBackgroundRole(live->backgroundRole());
        plain.setForegroundRole(live->foregroundRole());
        plain.setAlignment(live->alignment());
        plain.setFixedSize(live->size());
        plain.setText(looksLike);
        live->setText(text);
        QCOMPARE(live->grab().toImage(), plain.grab().toImage());
    }

    void tabOrder_data()
    {
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QStringList>("order");
        // A disabled button is passed over; labels are never visited.
        const auto order = [](const QString& button) {
            return QStringList{u"txtEND"_s,   u"List1"_s,    button,     u"txtPORT"_s, u"txtMODE"_s,
                               u"Command4"_s, u"txtSETUP"_s, u"List2"_s, u"txtEND"_s};
        };
        QTest::newRow("at start") << false << order(u"Command2"_s);
        QTest::newRow("after Open") << true << order(u"Command3"_s);
    }

    void tabOrder()
    {
        QFETCH(bool, opened);
        QFETCH(QStringList, order);
        QVERIFY(showAndActivate());
        QCOMPARE(QApplication::focusWidget(), terminationEdit());
        if (opened) {
            QVERIFY(device_->isValid() && ports_.attach(1, device_->slavePath()));
            openButton()->click();
            QVERIFY(w_->serial().isOpen() && !openButton()->isEnabled() &&
                    closeButton()->isEnabled());
            QCOMPARE(QApplication::focusWidget(), terminationEdit());
        }
        const auto press = [](Qt::Key key) {
            QTest::keyClick(QApplication::focusWidget(), key);
            return QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                               : u"(none)"_s;
        };
        for (qsizetype i = 1; i < order.size(); ++i)
            QCOMPARE(press(Qt::Key_Tab), order[i]);
        for (qsizetype i = order.size() - 2; i >= 0; --i)
            QCOMPARE(press(Qt::Key_Backtab), order[i]);
    }

    void enterAndEscape_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        const QMap<QString, int> keys{{u"Return"_s, Qt::Key_Return},
                                      {u"Enter"_s, Qt::Key_Enter},
                                      {u"Escape"_s, Qt::Key_Escape}};
        // A list has no action of its own on these keys and passes them on to the window as a
        // field does: the fields' rows check what the window does with them.
        for (const QString& name : {u"txtEND"_s, u"txtPORT"_s, u"txtMODE"_s, u"txtSETUP"_s})
            for (auto k = keys.begin(); k != keys.end(); ++k)
                QTest::newRow(qPrintable(name + u' ' + k.key())) << name << k.value();
    }

    void enterAndEscape()
    {
        QFETCH(QString, name);
        QFETCH(int, key);
        QVERIFY(showAndActivate());
        const QSignalSpy& failures = *failures_;
        QWidget* field = control(name);
        QVERIFY(field);
        field->setFocus();
        const QVariant textBefore = field->property("text");
        QTest::keyClick(field, Qt::Key(key));
        QTest::qWait(20);
        QVERIFY(w_->isVisible());
        QCOMPARE(w_->textList().count() + w_->valueList().count() + failures.count(), 0);
        QVERIFY(openButton()->isEnabled() && !closeButton()->isEnabled());
        QVERIFY(!QFile::exists(w_->logPath()));
        QCOMPARE(field->property("text"), textBefore);
        QCOMPARE(QApplication::focusWidget(), field);
    }

    void failure_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("ports");      // ports 1 to `ports` lead to the pseudo-terminal
        QTest::addColumn<QString>("device"); // else, where port 1 leads; empty: nowhere
        QTest::addColumn<QString>(
            "logPath");                      // inside the temporary directory; empty: the usual one
        QTest::addColumn<bool>("log");       // click Log, else Open
        QTest::addColumn<QString>("begins"); // the message begins and ends so; %1 in either
        QTest::addColumn<QString>("ends");   // stands for the pseudo-terminal's path
        QTest::addColumn<QString>("shown");  // in the box, when it is not the whole message
        const QString abc = u"Open failed: \"abc\" is not a port number."_s;
        QTest::newRow("Open, port abc")
            << u"abc"_s << 0 << QString() << QString() << false << abc << abc << QString();
        // Paths found on disk are shown by their characters: a line end or a direction override
        // in one neither splits the message nor turns it round.
        QTest::newRow("Open, link to a path with U+202E and a line end")
            << u"1"_s << 0 << u"/tmp/nodev\u202eSUOREGNAD\nsecond line"_s << QString() << false
            << u"Open failed: port 1 (/tmp/nodev\ufffdSUOREGNAD\u240asecond line) cannot be "
               u"opened: No such file or directory. "_s
            << u"."_s << QString();
        QTest::newRow("Log, path with U+202E and a line end")
            << u"1"_s << 0 << QString() << u"a\u202e\nb/commlog.txt"_s << true
            << u"Log failed: %1 cannot be opened for appending: "_s.arg(
                   dir_.filePath(u"a\ufffd\u240ab/commlog.txt"_s))
            << u". Both lists are unchanged."_s << QString();
        QTest::newRow("Log, missing directory")
            << u"1"_s << 0 << QString() << u"missing/commlog.txt"_s << true
            << u"Log failed: %1 cannot be opened for appending: "_s.arg(
                   dir_.filePath(u"missing/commlog.txt"_s))
            << u". Both lists are unchanged."_s << QString();
        // Neither a long device path nor a long list of devices may push the box past the
        // screen.
        const QString longPath = u"/"_s + QString(200, u'd').append(u'/').repeated(15) + u"ttyX"_s;
        QTest::newRow("Open, path of 3000 characters")
            << u"1"_s << 0 << longPath << QString() << false
            << u"Open failed: port 1 (%1) cannot be opened: No such file or directory. "_s.arg(
                   longPath)
            << u"."_s << u"ddd\u2026ddd"_s;
        QTest::newRow("Open, 300 ports")
            << u"301"_s << 300 << QString() << QString() << false
            << u"Open failed: port 301 has no device: no entry com301 in "_s
            << u", port 300 (%1)."_s << u"port 10 (%1), ... and 290 more."_s;
    }

    void failure()
    {
        QFETCH(QString, port);
        QFETCH(int, ports);
        QFETCH(QString, device);
        QFETCH(QString, logPath);
        QFETCH(bool, log);
        QFETCH(QString, begins);
        QFETCH(QString, ends);
        QFETCH(QString, shown);
        QVERIFY(showAndActivate());
        const QString pty = QFileInfo(device_->slavePath()).canonicalFilePath();
        for (int p = 1; p <= ports; ++p)
            QVERIFY(ports_.attach(p, pty));
        if (!device.isEmpty())
            QVERIFY(ports_.attach(1, device));
        if (!logPath.isEmpty())
            w_->setLogPath(dir_.filePath(logPath));
        portEdit()->setText(port);
        w_->lists().insertPlain(u"COMM 1 close."_s);
        QSignalSpy& failures = *failures_;
        const auto withPty = [&pty](const QString& text) {
            return text.contains(u"%1"_s) ? text.arg(pty) : text;
        };

        // The program goes on after a failure, so the user can press the button again.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            (log ? logButton() : openButton())->click();
            QCOMPARE(failures.count(), attempt);
        }
        const QString message = failures.last().at(0).toString();
        QVERIFY2(message.startsWith(withPty(begins)) && message.endsWith(withPty(ends)),
                 qPrintable(message.left(300)));

        // Shown in one box that blocks nothing, says what failed and fits on the screen; the
        // window and its state stay as they were.
        const auto boxes = w_->findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0]->isVisible() && !boxes[0]->isModal());
        QCOMPARE(boxes[0]->textFormat(), Qt::PlainText);
        QCOMPARE(boxes[0]->windowTitle(), log ? u"Log failed"_s : u"Open failed"_s);
        const QSize screen = boxes[0]->screen()->availableGeometry().size();
        QVERIFY2(
            boxes[0]->sizeHint().boundedTo(screen) == boxes[0]->sizeHint(),
            qPrintable(
                u"%1x%2"_s.arg(boxes[0]->sizeHint().width()).arg(boxes[0]->sizeHint().height())));
        if (shown.isEmpty())
            QCOMPARE(boxes[0]->text(), message);
        else
            QVERIFY2(boxes[0]->text().contains(withPty(shown)), qPrintable(boxes[0]->text()));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(w_->isVisible());
        QCOMPARE(w_->textList().count(),
                 log || port == u"abc" ? 1 : 3); // and two termination entries
        QCOMPARE(w_->valueList().entryAt(w_->valueList().count() - 1), u"COMM 1 close."_s);
        QVERIFY(openButton()->isEnabled() && !closeButton()->isEnabled() && !w_->serial().isOpen());

        // Once the same operation succeeds, its box goes.
        const QPointer<QMessageBox> box = boxes[0];
        w_->setLogPath(dir_.filePath(u"commlog.txt"_s));
        portEdit()->setText(u"1"_s);
        QVERIFY(ports_.attach(1, pty));
        (log ? logButton() : openButton())->click();
        QCOMPARE(failures.count(), 2);
        QVERIFY(!box || !box->isVisible());
    }
};

QTEST_MAIN(TstFormMain)
#include "tst_formmain.moc"
