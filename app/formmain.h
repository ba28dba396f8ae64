#pragma once

#include "entrydelegate.h"
#include "eventlist.h"
#include "eventlistmodel.h"
#include "frameclock.h"
#include "livetails.h"
#include "pairedlists.h"
#include "portcontrol.h"
#include "receiveprocessor.h"
#include "serialcomm.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QListView;
class QMessageBox;
class QPushButton;

namespace hexline {

// The one window, frmMAIN: the fields, buttons, lists and labels at their design places, the
// serial component Comm1 and TermValue. It routes four events (Open, Close, Log and the
// communication event) and is the one place where a failure is caught and shown.
// The lists' contents and the labels' captions are exact whenever a handler returns; the screen
// catches up with them once per frame, so that a busy line costs what the screen can show.
class FormMain : public QWidget, private LiveTails, private PortControls {
    Q_OBJECT
public:
    explicit FormMain(QWidget* parent = nullptr);
    ~FormMain() override;

    // Where Log appends; the platform's fixed place unless a test says otherwise.
    void setLogPath(const QString& path) { logPath_ = path; }
    const QString& logPath() const { return logPath_; }

    QLineEdit* txtEND;
    QListView* List1;
    QPushButton* Command2;
    QPushButton* Command3;
    QLineEdit* txtPORT;
    QLineEdit* txtMODE;
    std::array<QLabel*, 2> Label1;
    QLabel* Label2;
    QPushButton* Command4;
    QLabel* Label3;
    QLineEdit* txtSETUP;
    QListView* List2;

    SerialComm Comm1;
    qint16 TermValue = 0;

    EventList& textList() { return textList_; }
    EventList& valueList() { return valueList_; }
    PairedLists lists() { return {textList_, valueList_}; }
    const ReceiveProcessor& receiver() const { return receiver_; }

Q_SIGNALS:
    // A failure was shown to the user (tests watch this instead of the message box).
    void failureShown(const QString& message);

private:
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Comm1_OnComm();
    void showTails(const QString& textTail, const QString& valueTail) override;
    bool frameDue() const override { return frames_.due(); }
    QString portText() const override;
    QString setupText() const override;
    QString modeText() const override;
    QString endText() const override;
    void setOpenEnabled(bool enabled) override;
    void setCloseEnabled(bool enabled) override;
    void catchUp();
    void run(const char* operation, const std::function<void()>& handler);
    void showFailure(const QString& title, const QString& message, const QString& brief);

    EventList textList_;
    EventList valueList_;
    EventListModel textModel_;
    EventListModel valueModel_;
    EntryDelegate textDelegate_;
    EntryDelegate valueDelegate_;
    ReceiveProcessor receiver_;
    FrameClock frames_;
    QString logPath_;
    QPointer<QMessageBox> failureBox_; // the one shown, until the user closes it
};

} // namespace hexline
