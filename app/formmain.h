#pragma once

#include "app/entrydelegate.h"
#include "app/portcontrol.h"
#include "monitor/eventlist.h"
#include "monitor/eventlistmodel.h"
#include "monitor/livetails.h"
#include "monitor/pairedlists.h"
#include "monitor/receiveprocessor.h"
#include "serial/serialcomm.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QAbstractItemView;
class QMessageBox;
class QPushButton;

namespace hexline {

// The one window: the fields, buttons, lists and labels at their design places, the serial
// component and the termination value. It routes four events (Open, Close, Log and the serial
// component's communication event) and is the one place where a failure is caught and shown.
// The lists' contents and the labels' captions are exact whenever a handler returns, and the
// window is painted after it. A busy line costs what the screen can show: the serial component
// raises its event at most once a frame, and less often while more lines end than anyone reads.
//
// Each widget's object name is its name in the window's design, for UI automation and for
// comparing with the design: frmMAIN (the window), txtPORT, txtSETUP, txtMODE, txtEND (port,
// line settings, input mode, termination), Command2, Command3, Command4 (Open, Close, Log),
// List1, List2 (text list, value list), Label1 with property index 0 and 1 (the Port and Mode
// captions), Label2, Label3 (the live tails of the text line and the value line).
class FormMain : public QWidget, private LiveTails, private PortControls {
    Q_OBJECT
public:
    explicit FormMain(QWidget* parent = nullptr);
    ~FormMain() override;

    // Where Log appends; the platform's fixed place unless a test says otherwise.
    void setLogPath(const QString& path) { logPath_ = path; }
    const QString& logPath() const { return logPath_; }

    SerialComm& serial() { return serial_; }
    qint16 termValue() const { return termValue_; }
    EventList& textList() { return textList_; }
    EventList& valueList() { return valueList_; }
    PairedLists lists() { return {textList_, valueList_}; }
    const ReceiveProcessor& receiver() const { return receiver_; }

Q_SIGNALS:
    // A failure was shown to the user (tests watch this instead of the message box).
    void failureShown(const QString& message);

private:
    void openClicked();
    void closeClicked();
    void logClicked();
    void serialEvent(CommEvent event);
    void showTails(const QString& textTail, const QString& valueTail, bool walking) override;
    QString portText() const override;
    QString setupText() const override;
    QString modeText() const override;
    QString terminationText() const override;
    void setOpenEnabled(bool enabled) override;
    void setCloseEnabled(bool enabled) override;
    void listsChanged();
    void syncLists();
    void choosePace();
    void run(const char* operation, const std::function<void()>& handler);
    void showFailure(const QString& title, const QString& message, const QString& brief);
    void closeFailureOf(const char* operation);

    QLineEdit* terminationEdit_;
    QAbstractItemView* textView_;
    QPushButton* openButton_;
    QPushButton* closeButton_;
    QLineEdit* portEdit_;
    QLineEdit* modeEdit_;
    QLabel* textTail_;
    QPushButton* logButton_;
    QLabel* valueTail_;
    QLineEdit* setupEdit_;
    QAbstractItemView* valueView_;

    SerialComm serial_;
    qint16 termValue_ = 0;
    EventList textList_;
    EventList valueList_;
    EventListModel textModel_;
    EventListModel valueModel_;
    EntryDelegate textDelegate_;
    EntryDelegate valueDelegate_;
    ReceiveProcessor receiver_;
    int paceMs_ = 0;           // how often input is handled and the lists are painted
    QTimer listsDue_;          // runs while a change of the lists waits to be shown
    QElapsedTimer sinceCount_; // the lines ended since then choose how often input is handled
    qint64 linesAtCount_ = 0;
    QString logPath_;
    QPointer<QMessageBox> failureBox_;      // the one shown, until the user closes it
    const char* failedOperation_ = nullptr; // what failureBox_ tells of: "Open", "Log", "Port"...
};

} // namespace hexline
