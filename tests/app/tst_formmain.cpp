#include "formmain.h"
#include "ptypair.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstFormMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void controls_data();
    void controls();
    void window();
    void tabOrder_data();
    void tabOrder();
    void enterAndEscape_data();
    void enterAndEscape();
    void failure_data();
    void failure();

private:
    QWidget* control(const QString& name, int index = -1) const;
    bool showAndActivate();

    test::PortDirectory ports_;
    test::Pty device_;
    QTemporaryDir dir_;
    std::unique_ptr<FormMain> w_;
};

void TstFormMain::init()
{
    w_ = std::make_unique<FormMain>();
    w_->setLogPath(dir_.filePath(u"commlog.txt"_s)); // never the user's own log file
}

void TstFormMain::cleanup()
{
    w_.reset();
    ports_.detach(1);
}

// The direct child with that objectName; Label1's two labels are told apart by their index.
QWidget* TstFormMain::control(const QString& name, int index) const
{
    const auto found = w_->findChildren<QWidget*>(name, Qt::FindDirectChildrenOnly);
    for (QWidget* c : found)
        if ((index < 0 && found.size() == 1) || (index >= 0 && c->property("index") == index))
            return c;
    return nullptr;
}

bool TstFormMain::showAndActivate()
{
    w_->show();
    return QTest::qWaitForWindowExposed(w_.get()) && QTest::qWaitForWindowActive(w_.get());
}

void TstFormMain::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QList<int>>("twips"); // left, top, width, height
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");

    const auto row = [](const char* tag, const QString& name, int index, const char* kind, QList<int> twips,
                        const QString& text, bool enabled = true) {
        QTest::newRow(tag) << name << index << QByteArray(kind) << twips << text << enabled;
    };
    row("txtEND", u"txtEND"_s, -1, "QLineEdit", {5220, 30, 405, 285}, u"0D"_s);
    row("List1", u"List1"_s, -1, "QListView", {60, 750, 8055, 6105}, {});
    row("Command2", u"Command2"_s, -1, "QPushButton", {1230, 60, 735, 315}, u"Open"_s);
    row("Command3", u"Command3"_s, -1, "QPushButton", {1230, 420, 735, 315}, u"Close"_s, false);
    row("txtPORT", u"txtPORT"_s, -1, "QLineEdit", {570, 60, 465, 285}, u"1"_s);
    row("txtMODE", u"txtMODE"_s, -1, "QLineEdit", {570, 360, 465, 285}, u"t"_s);
    row("Label1(0)", u"Label1"_s, 0, "QLabel", {90, 120, 465, 225}, u"Port"_s);
    row("Label1(1)", u"Label1"_s, 1, "QLabel", {90, 390, 465, 225}, u"Mode"_s);
    row("Label2", u"Label2"_s, -1, "QLabel", {90, 6960, 8025, 525}, {});
    row("Command4", u"Command4"_s, -1, "QPushButton", {6480, 270, 675, 315}, u"Log"_s);
    row("Label3", u"Label3"_s, -1, "QLabel", {8220, 6960, 8025, 525}, {});
    row("txtSETUP", u"txtSETUP"_s, -1, "QLineEdit", {2250, 30, 2415, 285}, u"9600,N,8,1"_s);
    row("List2", u"List2"_s, -1, "QListView", {8190, 750, 8055, 6105}, {});
}

void TstFormMain::controls()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QByteArray, kind);
    QFETCH(QList<int>, twips);
    QFETCH(QString, text);
    QFETCH(bool, enabled);

    QWidget* c = control(name, index);
    QVERIFY(c);
    QCOMPARE(QByteArray(c->metaObject()->className()), kind);
    QCOMPARE(c->geometry(), QRect(twips[0] / 15, twips[1] / 15, twips[2] / 15, twips[3] / 15));
    QCOMPARE(c->isEnabled(), enabled);
    if (auto* list = qobject_cast<QListView*>(c))
        QCOMPARE(list->model()->rowCount(), 0);
    else
        QCOMPARE(c->property("text").toString(), text);
    // Only the Mode label has a tool tip; no control sets a font of its own.
    QCOMPARE(c->toolTip(), name == u"Label1"_s && index == 1 ? u"(t)ext mode , (b)inary mode"_s : QString());
    QVERIFY(!c->testAttribute(Qt::WA_SetFont));
}

void TstFormMain::window()
{
    QCOMPARE(w_->objectName(), u"frmMAIN"_s);
    QCOMPARE(w_->windowTitle(), u"Form1"_s);
    QVERIFY(showAndActivate());
    const QSize client(16350 / 15, 7680 / 15);
    QCOMPARE(w_->size(), client);
    QCOMPARE(w_->minimumSize(), client);
    QCOMPARE(w_->maximumSize(), client);
    const Qt::WindowFlags flags = w_->windowFlags();
    QCOMPARE(w_->windowType(), Qt::Window);
    QVERIFY(flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!w_->testAttribute(Qt::WA_SetFont));
    QCOMPARE(w_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 13); // no menu, nothing else
    QCOMPARE(w_->TermValue, qint16(0));
    QVERIFY(!w_->Comm1.PortOpen());

    // Live labels look like a text field, caption labels like labels: check the painted pixels.
    const auto painted = [this](QLabel* l) { // the colour of most pixels, not of the text
        const QImage image = w_->grab(l->geometry()).toImage();
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y)];
        return QColor(std::max_element(counts.keyValueBegin(), counts.keyValueEnd(),
                                       [](auto a, auto b) { return a.second < b.second; })->first);
    };
    for (QLabel* live : {w_->Label2, w_->Label3}) {
        QCOMPARE(live->backgroundRole(), QPalette::Base);
        QCOMPARE(live->foregroundRole(), QPalette::Text);
        QCOMPARE(painted(live), live->palette().color(QPalette::Base));
    }
    for (QLabel* caption : w_->Label1) {
        QCOMPARE(caption->backgroundRole(), QPalette::Window);
        QCOMPARE(caption->foregroundRole(), QPalette::WindowText);
        QCOMPARE(painted(caption), w_->palette().color(QPalette::Window));
    }
    QVERIFY(w_->palette().color(QPalette::Window) != w_->palette().color(QPalette::Base));
}

void TstFormMain::tabOrder_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QStringList>("order");
    // A disabled button is passed over; labels are never visited.
    const auto order = [](const QString& button) {
        return QStringList{u"txtEND"_s, u"List1"_s, button, u"txtPORT"_s, u"txtMODE"_s,
                           u"Command4"_s, u"txtSETUP"_s, u"List2"_s, u"txtEND"_s};
    };
    QTest::newRow("at start") << false << order(u"Command2"_s);
    QTest::newRow("after Open") << true << order(u"Command3"_s);
}

void TstFormMain::tabOrder()
{
    QFETCH(bool, opened);
    QFETCH(QStringList, order);

    QVERIFY(showAndActivate());
    QCOMPARE(QApplication::focusWidget(), w_->txtEND);
    if (opened) {
        QVERIFY(device_.isValid() && ports_.attach(1, device_.slavePath()));
        w_->Command2->click();
        QVERIFY(w_->Comm1.PortOpen());
        QVERIFY(!w_->Command2->isEnabled() && w_->Command3->isEnabled());
        QCOMPARE(QApplication::focusWidget(), w_->txtEND);
    }
    const auto press = [](Qt::Key key) {
        QTest::keyClick(QApplication::focusWidget(), key);
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : u"(none)"_s;
    };
    for (qsizetype i = 1; i < order.size(); ++i)
        QCOMPARE(press(Qt::Key_Tab), order[i]);
    for (qsizetype i = order.size() - 2; i >= 0; --i)
        QCOMPARE(press(Qt::Key_Backtab), order[i]);
}

void TstFormMain::enterAndEscape_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");
    const QStringList names{u"txtEND"_s, u"txtPORT"_s, u"txtMODE"_s, u"txtSETUP"_s, u"List1"_s, u"List2"_s};
    const QList<std::pair<QString, Qt::Key>> keys{
        {u"Return"_s, Qt::Key_Return}, {u"Enter"_s, Qt::Key_Enter}, {u"Escape"_s, Qt::Key_Escape}};
    for (const QString& name : names)
        for (const auto& [keyName, key] : keys)
            QTest::newRow(qPrintable(name + u' ' + keyName)) << name << int(key);
}

void TstFormMain::enterAndEscape()
{
    QFETCH(QString, name);
    QFETCH(int, key);

    QVERIFY(showAndActivate());
    QSignalSpy failures(w_.get(), &FormMain::failureShown);
    QWidget* field = control(name);
    QVERIFY(field);
    field->setFocus();
    const QVariant textBefore = field->property("text");
    QTest::keyClick(field, Qt::Key(key));
    QTest::qWait(20);

    QVERIFY(w_->isVisible());
    QCOMPARE(w_->textList().count(), 0);
    QCOMPARE(w_->valueList().count(), 0);
    QCOMPARE(failures.count(), 0);
    QVERIFY(w_->Command2->isEnabled() && !w_->Command3->isEnabled());
    QVERIFY(!QFile::exists(w_->logPath()));
    QCOMPARE(field->property("text"), textBefore);
    QCOMPARE(QApplication::focusWidget(), field);
}

void TstFormMain::failure_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("logPath"); // inside the temporary directory; empty: the usual one
    QTest::addColumn<bool>("log");        // click Log, else Open
    QTest::addColumn<QString>("expected"); // "*" stands for the system's reason

    QTest::newRow("Open, port abc") << u"abc"_s << QString() << false << u"Open failed: \"abc\" is not a port number."_s;
    QTest::newRow("Log, missing directory")
        << u"1"_s << u"missing/commlog.txt"_s << true
        << u"Log failed: %1 cannot be opened for appending: *. Both lists are unchanged."_s.arg(
               dir_.filePath(u"missing/commlog.txt"_s));
}

void TstFormMain::failure()
{
    QFETCH(QString, port);
    QFETCH(QString, logPath);
    QFETCH(bool, log);
    QFETCH(QString, expected);

    QVERIFY(showAndActivate());
    if (!logPath.isEmpty())
        w_->setLogPath(dir_.filePath(logPath));
    w_->txtPORT->setText(port);
    w_->lists().insertPlain(u"COMM 1 close."_s);
    QSignalSpy failures(w_.get(), &FormMain::failureShown);

    // The program goes on after a failure, so the user can press the button again.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        (log ? w_->Command4 : w_->Command2)->click();
        QCOMPARE(failures.count(), attempt);
    }
    const QString message = failures.last().at(0).toString();
    const QStringList parts = expected.split(u'*');
    if (parts.size() == 1)
        QCOMPARE(message, expected);
    else
        QVERIFY2(message.startsWith(parts[0]) && message.endsWith(parts[1]) && message.size() > expected.size(),
                 qPrintable(message));

    // Shown in a box that blocks nothing; the window and its state stay as they were.
    const auto boxes = w_->findChildren<QMessageBox*>();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0]->isVisible() && !boxes[0]->isModal());
    QCOMPARE(boxes[0]->text(), message);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(w_->isVisible());
    QCOMPARE(w_->textList().count(), 1);
    QCOMPARE(w_->valueList().entryAt(0), u"COMM 1 close."_s);
    QVERIFY(w_->Command2->isEnabled() && !w_->Command3->isEnabled() && !w_->Comm1.PortOpen());
}

QTEST_MAIN(TstFormMain)
#include "tst_formmain.moc"
