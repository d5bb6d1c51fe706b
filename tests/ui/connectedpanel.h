#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// A shown panel on a system-picked port. start() presses "Rozpocznij nasłuch" and waits
// for the watchdog to listen; connect() then brings a real controller in.
struct ConnectedPanel
{
    std::unique_ptr<Form1> form = std::make_unique<Form1>(0);
    ControllerPeer peer;

    const Form1::Controls &ui() const { return form->controls(); }
    qint16 socketState() const { return ui().Winsock1->State(); }

    bool waitForSocketState(qint16 state, int timeoutMs = 5000) const
    {
        return QTest::qWaitFor([&] { return socketState() == state; }, timeoutMs);
    }

    bool start()
    {
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        return waitForSocketState(Winsock::sckListening);
    }

    bool connect(ControllerPeer &controller)
    {
        return controller.connectTo(quint16(ui().Winsock1->LocalPort()))
            && waitForSocketState(Winsock::sckConnected);
    }

    bool startConnected() { return start() && connect(peer); }

    QPushButton *button(int id) const { return ui().S[size_t(id / 10 - 1)][size_t(id % 10 - 1)]; }
    ShapeControl *output(int id) const { return ui().O[size_t(id / 10 - 1)][size_t(id % 10 - 1)]; }
    // A click delivered as the window system delivers it, so modal boxes block it.
    void press(int id) const
    {
        QWidget *b = button(id);
        QTest::mouseClick(b->window()->windowHandle(), Qt::LeftButton, {},
                          b->mapTo(b->window(), b->rect().center()));
    }
};

// Watches for the next application-modal message box, records what it shows and closes
// it with OK once ready() holds (or the time is up), all from the box's own event loop.
class ModalCloser : public QObject
{
public:
    std::function<void(QMessageBox *)> onOpen = [](QMessageBox *) {
    };
    std::function<bool()> ready = [] {
        return true;
    };

    bool seen = false;
    bool timedOut = false;
    QString objectName, title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;

    explicit ModalCloser(int timeoutMs = 5000)
        : m_deadline(timeoutMs)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, &ModalCloser::poll);
        m_timer.start();
    }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (m_deadline.hasExpired())
                m_timer.stop();
            return;
        }
        if (!seen) {
            seen = true;
            objectName = box->objectName();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            onOpen(box);
        }
        if (!ready()) {
            if (!m_deadline.hasExpired())
                return;
            timedOut = true;
        }
        m_timer.stop();
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->done(0);
    }

    QTimer m_timer;
    QDeadlineTimer m_deadline;
};
