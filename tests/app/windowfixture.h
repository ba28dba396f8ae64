#pragma once
// What every window test starts from: a pseudo-terminal attached as port 1, the window with its
// log file in a temporary directory (never the user's own), and a spy on the failures it shows.

#include "app/formmain.h"
#include "tests/support/ptypair.h"

#include <QAbstractItemView>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace hexline::test {

class WindowFixture {
protected:
    PortDirectory ports_;
    std::unique_ptr<Pty> device_;
    QTemporaryDir dir_;
    std::unique_ptr<FormMain> w_;
    std::unique_ptr<QSignalSpy> failures_;

    // A new device and window; shown and exposed unless show is false.
    bool startWindow(bool show = true)
    {
        device_ = std::make_unique<Pty>();
        if (!ports_.isValid() || !dir_.isValid() || !device_->isValid() ||
            !ports_.attach(1, device_->slavePath()))
            return false;
        w_ = std::make_unique<FormMain>();
        w_->setLogPath(dir_.filePath(QStringLiteral("commlog.txt")));
        failures_ = std::make_unique<QSignalSpy>(w_.get(), &FormMain::failureShown);
        if (!show)
            return true;
        w_->show();
        return QTest::qWaitForWindowExposed(w_.get());
    }
    void stopWindow()
    {
        failures_.reset();
        w_.reset();
        device_.reset();
        ports_.detach(1);
        QFile::remove(dir_.filePath(QStringLiteral("commlog.txt")));
    }
    // The message of the i-th failure shown.
    QString failure(int i) const { return failures_->at(i).at(0).toString(); }

    // The window's direct child with that object name, its name in the window's design; the
    // two Label1 captions are told apart by their index.
    template <typename W = QWidget> W* control(const QString& name, int index = -1) const
    {
        const auto found = w_->findChildren<W*>(name, Qt::FindDirectChildrenOnly);
        for (W* c : found)
            if ((index < 0 && found.size() == 1) || (index >= 0 && c->property("index") == index))
                return c;
        return nullptr;
    }
    QPushButton* openButton() const { return control<QPushButton>(QStringLiteral("Command2")); }
    QPushButton* closeButton() const { return control<QPushButton>(QStringLiteral("Command3")); }
    QPushButton* logButton() const { return control<QPushButton>(QStringLiteral("Command4")); }
    QLineEdit* portEdit() const { return control<QLineEdit>(QStringLiteral("txtPORT")); }
    QLineEdit* setupEdit() const { return control<QLineEdit>(QStringLiteral("txtSETUP")); }
    QLineEdit* modeEdit() const { return control<QLineEdit>(QStringLiteral("txtMODE")); }
    QLineEdit* terminationEdit() const { return control<QLineEdit>(QStringLiteral("txtEND")); }
    QAbstractItemView* textView() const
    {
        return control<QAbstractItemView>(QStringLiteral("List1"));
    }
    QAbstractItemView* valueView() const
    {
        return control<QAbstractItemView>(QStringLiteral("List2"));
    }
    QLabel* textTail() const { return control<QLabel>(QStringLiteral("Label2")); }
    QLabel* valueTail() const { return control<QLabel>(QStringLiteral("Label3")); }
};

} // namespace hexline::test
