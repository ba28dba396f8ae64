#include "formmain.h"

#include "commlog.h"
#include "entrylistview.h"
#include "error.h"
#include "livelabel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace hexline {

namespace {

// Positions and sizes are designed in twips; 15 twips make one pixel at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

template <typename Widget> Widget* make(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* w = new Widget(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QLineEdit* field(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* f = make<QLineEdit>(parent, name, geometry);
    // No limit of its own: QLineEdit's default of 32767 characters would silently cut a paste.
    f->setMaxLength(std::numeric_limits<int>::max());
    f->setText(text);
    return f;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption,
                    const QRect& geometry)
{
    auto* b = make<QPushButton>(parent, name, geometry);
    b->setText(caption);
    // Enter and Escape in a field must run nothing.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QListView* list(QWidget* parent, const char* name, EventListModel* model, EntryDelegate* delegate,
                const QRect& geometry)
{
    auto* v = make<EntryListView>(parent, name, geometry);
    v->setModel(model);
    v->setItemDelegate(delegate);
    v->setUniformItemSizes(true);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return v;
}

template <typename Label = QLabel>
Label* label(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* l = make<Label>(parent, name, geometry);
    l->setTextFormat(Qt::PlainText); // received text is shown as it is, never as markup
    l->setText(caption);
    return l;
}

QLabel* liveLabel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* l = label<LiveLabel>(parent, name, QString(), geometry);
    // The look of a text field: window background and window text colours.
    l->setAutoFillBackground(true);
    l->setBackgroundRole(QPalette::Base);
    l->setForegroundRole(QPalette::Text);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A fixed size spares the window a layout request at every caption change.
    l->setFixedSize(geometry.size());
    return l;
}

// A trickling device's receive event waits a little longer than a frame, so that the frame, which
// ends the wait early, is what handles it.
constexpr int kPaceSlackMs = 4;

// A message as a message box shows it: words longer than a line (device paths) cut in the
// middle, and the whole cut short, so that the box always fits on the screen.
QString fitForBox(const QString& message)
{
    constexpr qsizetype kLongestWord = 60, kHead = 24, kLongest = 1000;
    QStringList words = message.split(u' ');
    for (QString& word : words)
        if (word.size() > kLongestWord)
            word =
                word.left(kHead) + QStringLiteral("\u2026") + word.right(kLongestWord - kHead - 1);
    QString text = words.join(u' ');
    if (text.size() > kLongest)
        text = text.left(kLongest - 1) + QStringLiteral("\u2026");
    return text;
}

} // namespace

FormMain::FormMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      textModel_(textList_), valueModel_(valueList_), receiver_({textList_, valueList_}, *this),
      frames_(
          *this, [this] { catchUp(); }, [this] { return receiver_.linesEnded(); }),
      logPath_(defaultLogPath())
{
    setObjectName(QStringLiteral("frmMAIN"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(16350 / 15, 7680 / 15);

    txtEND = field(this, "txtEND", QStringLiteral("0D"), twips(5220, 30, 405, 285));
    List1 = list(this, "List1", &textModel_, &textDelegate_, twips(60, 750, 8055, 6105));
    Command2 = button(this, "Command2", QStringLiteral("Open"), twips(1230, 60, 735, 315));
    Command3 = button(this, "Command3", QStringLiteral("Close"), twips(1230, 420, 735, 315));
    txtPORT = field(this, "txtPORT", QStringLiteral("1"), twips(570, 60, 465, 285));
    txtMODE = field(this, "txtMODE", QStringLiteral("t"), twips(570, 360, 465, 285));
    Label1[0] = label(this, "Label1", QStringLiteral("Port"), twips(90, 120, 465, 225));
    Label1[1] = label(this, "Label1", QStringLiteral("Mode"), twips(90, 390, 465, 225));
    Label1[0]->setProperty("index", 0);
    Label1[1]->setProperty("index", 1);
    Label1[1]->setToolTip(QStringLiteral("(t)ext mode , (b)inary mode"));
    Label2 = liveLabel(this, "Label2", twips(90, 6960, 8025, 525));
    Command4 = button(this, "Command4", QStringLiteral("Log"), twips(6480, 270, 675, 315));
    Label3 = liveLabel(this, "Label3", twips(8220, 6960, 8025, 525));
    txtSETUP = field(this, "txtSETUP", QStringLiteral("9600,N,8,1"), twips(2250, 30, 2415, 285));
    List2 = list(this, "List2", &valueModel_, &valueDelegate_, twips(8190, 750, 8055, 6105));

    Command3->setEnabled(false);

    // Screen readers tell the fields and lists apart by these names; the window shows no captions
    // for the settings and termination fields.
    txtPORT->setAccessibleName(QStringLiteral("Port"));
    txtMODE->setAccessibleName(QStringLiteral("Mode"));
    txtSETUP->setAccessibleName(QStringLiteral("Line settings"));
    txtEND->setAccessibleName(QStringLiteral("Termination"));
    List1->setAccessibleName(QStringLiteral("Received text"));
    List2->setAccessibleName(QStringLiteral("Received values"));
    Label2->setAccessibleName(QStringLiteral("Current text line"));
    Label3->setAccessibleName(QStringLiteral("Current value line"));

    QWidget* order[] = {txtEND,  List1,    Command2, Command3, txtPORT,
                        txtMODE, Command4, txtSETUP, List2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(List2, txtEND);
    txtEND->setFocus();

    connect(Command2, &QPushButton::clicked, this, &FormMain::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &FormMain::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &FormMain::Command4_Click);
    connect(&Comm1, &SerialComm::OnComm, this, &FormMain::Comm1_OnComm);
    connect(&Comm1, &SerialComm::deviceFailed, this, [this](const QString& message) {
        showFailure(QStringLiteral("Port failed"), message, message);
    });

    // A change in the lists asks for a frame; one in the labels' captions asks by itself. A
    // trickling device is read in step with the frames.
    connect(&textModel_, &EventListModel::changed, &frames_, &FrameClock::request);
    connect(&valueModel_, &EventListModel::changed, &frames_, &FrameClock::request);
    Comm1.setPaceInterval(frames_.intervalMs() + kPaceSlackMs);
    connect(&frames_, &FrameClock::intervalChanged, this,
            [this](int ms) { Comm1.setPaceInterval(ms + kPaceSlackMs); });
}

FormMain::~FormMain() = default;

QString FormMain::portText() const
{
    return txtPORT->text();
}
QString FormMain::setupText() const
{
    return txtSETUP->text();
}
QString FormMain::modeText() const
{
    return txtMODE->text();
}
QString FormMain::endText() const
{
    return txtEND->text();
}
void FormMain::setOpenEnabled(bool enabled)
{
    Command2->setEnabled(enabled);
}
void FormMain::setCloseEnabled(bool enabled)
{
    Command3->setEnabled(enabled);
}

void FormMain::Command2_Click()
{
    run("Open", [this] { openPort(*this, Comm1, lists(), receiver_, TermValue); });
}

void FormMain::Command3_Click()
{
    run("Close", [this] { closePort(*this, Comm1, lists()); });
}

void FormMain::Command4_Click()
{
    run("Log", [this] { appendLog(logPath_, txtMODE->text(), txtEND->text(), lists()); });
}

void FormMain::Comm1_OnComm()
{
    // Only a receive event has work to do here: a failed device is reported through deviceFailed.
    if (Comm1.CommEvent() != SerialComm::kReceiveEvent)
        return;
    run("Receive", [this] { receiver_.process(Comm1.Input(), TermValue); });
}

void FormMain::showTails(const QString& textTail, const QString& valueTail)
{
    Label2->setText(textTail);
    Label3->setText(valueTail);
    // Inside a long receive event the event loop does not run: the labels are painted from here
    // when a frame is due, so that they stay live.
    if (frames_.due())
        frames_.paint();
}

void FormMain::catchUp()
{
    // What a trickling device sent since its last receive event (read as it came) is handled
    // now rather than at a wake-up of its own, and this frame paints it.
    Comm1.catchUp();
    // The views learn of the lists' changes in one batch, so that this frame paints them.
    textModel_.sync();
    valueModel_.sync();
}

void FormMain::run(const char* operation, const std::function<void()>& handler)
{
    // A handler stops at its failing step and keeps what it did before; the failure is shown
    // once it has returned, and the program goes on.
    QString message, brief;
    try {
        handler();
        return;
    } catch (const Error& e) {
        message = e.message();
        brief = e.brief();
    } catch (const std::exception& e) {
        message = brief = QString::fromLocal8Bit(e.what());
    }
    const QString title = QStringLiteral("%1 failed").arg(QLatin1String(operation));
    const QString prefix = title + QStringLiteral(": ");
    showFailure(title, prefix + message, prefix + brief);
}

void FormMain::showFailure(const QString& title, const QString& message, const QString& brief)
{
    std::fprintf(stderr, "hexline: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    // One box at a time: a new failure takes over the box that is still shown. Non-blocking: no
    // nested event loop, so no receive event runs in the middle of a handler.
    if (!failureBox_) {
        failureBox_ =
            new QMessageBox(QMessageBox::Warning, title, QString(), QMessageBox::Ok, this);
        failureBox_->setAttribute(Qt::WA_DeleteOnClose);
        failureBox_->setModal(false);
    }
    failureBox_->setWindowTitle(title);
    failureBox_->setText(fitForBox(brief));
    failureBox_->show();
    Q_EMIT failureShown(message);
}

} // namespace hexline
