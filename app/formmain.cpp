#include "app/formmain.h"

#include "app/entrylistview.h"
#include "app/livelabel.h"
#include "errors/error.h"
#include "log/commlog.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <limits>

namespace hexline {

namespace {

// Every failure goes to standard error as one full line, "hexline: ...", as well as to the box.
Q_LOGGING_CATEGORY(failures, "hexline", QtWarningMsg)

// Input is handled, and the window painted, at most this often: at the screen's rate while a
// person can read the lines one by one, and more slowly beyond this many lines a second, counted
// over kCountMs. A line ended just after one event waits a jump interval for the next, and the
// paint after it comes within 50 ms of its last byte.
constexpr int kScreenMs = LiveTails::kFrameMs;
constexpr int kJumpMs = 36;
constexpr int kReadableLinesPerSecond = 20;
constexpr qint64 kCountMs = 250;

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

QAbstractItemView* list(QWidget* parent, const char* name, EventListModel* model,
                        EntryDelegate* delegate, const QRect& geometry)
{
    auto* v = make<EntryListView>(parent, name, geometry);
    v->setModel(model);
    v->setItemDelegate(delegate);
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
      logPath_(defaultLogPath())
{
    setObjectName(QStringLiteral("frmMAIN"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(16350 / 15, 7680 / 15);

    // Created in the order of their tab index, which the tab order below follows too.
    terminationEdit_ = field(this, "txtEND", QStringLiteral("0D"), twips(5220, 30, 405, 285));
    textView_ = list(this, "List1", &textModel_, &textDelegate_, twips(60, 750, 8055, 6105));
    openButton_ = button(this, "Command2", QStringLiteral("Open"), twips(1230, 60, 735, 315));
    closeButton_ = button(this, "Command3", QStringLiteral("Close"), twips(1230, 420, 735, 315));
    portEdit_ = field(this, "txtPORT", QStringLiteral("1"), twips(570, 60, 465, 285));
    modeEdit_ = field(this, "txtMODE", QStringLiteral("t"), twips(570, 360, 465, 285));
    QLabel* portCaption = label(this, "Label1", QStringLiteral("Port"), twips(90, 120, 465, 225));
    QLabel* modeCaption = label(this, "Label1", QStringLiteral("Mode"), twips(90, 390, 465, 225));
    portCaption->setProperty("index", 0);
    modeCaption->setProperty("index", 1);
    modeCaption->setToolTip(QStringLiteral("(t)ext mode , (b)inary mode"));
    textTail_ = liveLabel(this, "Label2", twips(90, 6960, 8025, 525));
    logButton_ = button(this, "Command4", QStringLiteral("Log"), twips(6480, 270, 675, 315));
    valueTail_ = liveLabel(this, "Label3", twips(8220, 6960, 8025, 525));
    setupEdit_ = field(this, "txtSETUP", QStringLiteral("9600,N,8,1"), twips(2250, 30, 2415, 285));
    valueView_ = list(this, "List2", &valueModel_, &valueDelegate_, twips(8190, 750, 8055, 6105));

    closeButton_->setEnabled(false);

    // Screen readers tell the fields and lists apart by these names; the window shows no captions
    // for the settings and termination fields.
    portEdit_->setAccessibleName(QStringLiteral("Port"));
    modeEdit_->setAccessibleName(QStringLiteral("Mode"));
    setupEdit_->setAccessibleName(QStringLiteral("Line settings"));
    terminationEdit_->setAccessibleName(QStringLiteral("Termination"));
    textView_->setAccessibleName(QStringLiteral("Received text"));
    valueView_->setAccessibleName(QStringLiteral("Received values"));
    textTail_->setAccessibleName(QStringLiteral("Current text line"));
    valueTail_->setAccessibleName(QStringLiteral("Current value line"));

    QWidget* order[] = {terminationEdit_, textView_,  openButton_, closeButton_, portEdit_,
                        modeEdit_,        logButton_, setupEdit_,  valueView_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(valueView_, terminationEdit_);
    terminationEdit_->setFocus();

    connect(openButton_, &QPushButton::clicked, this, &FormMain::openClicked);
    connect(closeButton_, &QPushButton::clicked, this, &FormMain::closeClicked);
    connect(logButton_, &QPushButton::clicked, this, &FormMain::logClicked);
    connect(&serial_, &SerialComm::commEvent, this, &FormMain::serialEvent);

    // The views learn of the lists' changes in one batch, once the handler that made them has
    // returned, and are painted with the labels.
    listsDue_.setSingleShot(true);
    listsDue_.setTimerType(Qt::PreciseTimer);
    connect(&listsDue_, &QTimer::timeout, this, &FormMain::syncLists);
    connect(&textModel_, &EventListModel::changed, this, &FormMain::listsChanged);
    connect(&valueModel_, &EventListModel::changed, this, &FormMain::listsChanged);
    paceMs_ = kScreenMs;
    serial_.setPaceInterval(paceMs_);
    sinceCount_.start();
}

FormMain::~FormMain() = default;

QString FormMain::portText() const
{
    return portEdit_->text();
}
QString FormMain::setupText() const
{
    return setupEdit_->text();
}
QString FormMain::modeText() const
{
    return modeEdit_->text();
}
QString FormMain::terminationText() const
{
    return terminationEdit_->text();
}
void FormMain::setOpenEnabled(bool enabled)
{
    openButton_->setEnabled(enabled);
}
void FormMain::setCloseEnabled(bool enabled)
{
    closeButton_->setEnabled(enabled);
}

void FormMain::openClicked()
{
    run("Open", [this] { openPort(*this, serial_, lists(), receiver_, termValue_); });
}

void FormMain::closeClicked()
{
    run("Close", [this] { closePort(*this, serial_, lists()); });
}

void FormMain::logClicked()
{
    run("Log", [this] { appendLog(logPath_, modeText(), terminationText(), lists()); });
}

void FormMain::serialEvent(CommEvent event)
{
    switch (event) {
    case CommEvent::Receive:
        run("Receive", [this] { receiver_.process(serial_.readInput(), termValue_); });
        syncLists();
        choosePace();
        break;
    case CommEvent::DeviceError:
        showFailure(QStringLiteral("Port failed"), serial_.failureMessage(),
                    serial_.failureMessage());
        failedOperation_ = "Port";
        break;
    }
}

void FormMain::showTails(const QString& textTail, const QString& valueTail, bool walking)
{
    textTail_->setText(textTail);
    valueTail_->setText(valueTail);
    if (walking) { // the event loop does not run until the walk ends
        textTail_->repaint();
        valueTail_->repaint();
    }
}

// Changes outside a receive event (Open, Close, Log) are shown with the next event's lines, or
// an interval later when none comes: a Log just after an event is not painted on its own.
void FormMain::listsChanged()
{
    if (!listsDue_.isActive())
        listsDue_.start(paceMs_);
}

void FormMain::syncLists()
{
    listsDue_.stop();
    textModel_.sync();
    valueModel_.sync();
}

// While lines end faster than anyone reads them one by one, the window handles input and paints
// less often than the screen could, as a terminal's jump scroll does: often enough that a line
// ended just after one event is on the screen within 50 ms.
void FormMain::choosePace()
{
    const qint64 elapsed = sinceCount_.elapsed();
    if (elapsed < kCountMs)
        return;
    const qint64 lines = receiver_.linesEnded();
    const bool readable = (lines - linesAtCount_) * 1000 <= kReadableLinesPerSecond * elapsed;
    paceMs_ = readable ? kScreenMs : kJumpMs;
    serial_.setPaceInterval(paceMs_);
    linesAtCount_ = lines;
    sinceCount_.start();
}

void FormMain::run(const char* operation, const std::function<void()>& handler)
{
    // A handler stops at its failing step and keeps what it did before; the failure is shown
    // once it has returned, and the program goes on.
    QString message, brief;
    try {
        handler();
        closeFailureOf(operation);
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
    failedOperation_ = operation;
}

void FormMain::closeFailureOf(const char* operation)
{
    // A box that tells of an earlier failure of the operation that has now succeeded is out of
    // date; an Open that succeeds also answers a port that failed.
    if (!failureBox_ || !failedOperation_ ||
        (qstrcmp(failedOperation_, operation) != 0 &&
         !(qstrcmp(operation, "Open") == 0 && qstrcmp(failedOperation_, "Port") == 0)))
        return;
    failureBox_->close();
    failureBox_.clear(); // a later failure opens a box of its own
}

void FormMain::showFailure(const QString& title, const QString& message, const QString& brief)
{
    qCWarning(failures).noquote() << message;
    // One box at a time: a new failure takes over the box that is still shown. Non-blocking: no
    // nested event loop, so no receive event runs in the middle of a handler.
    if (!failureBox_) {
        failureBox_ =
            new QMessageBox(QMessageBox::Warning, title, QString(), QMessageBox::Ok, this);
        failureBox_->setAttribute(Qt::WA_DeleteOnClose);
        failureBox_->setModal(false);
        // Typed text and paths found on disk are shown as they are, never as markup.
        failureBox_->setTextFormat(Qt::PlainText);
    }
    failureBox_->setWindowTitle(title);
    failureBox_->setText(fitForBox(brief));
    failureBox_->show();
    Q_EMIT failureShown(message);
}

} // namespace hexline
