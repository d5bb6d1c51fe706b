#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// A shown panel on a system-picked port; startConnected() supervises with a real controller.
struct ConnectedPanel
{
    explicit ConnectedPanel(quint16 port = 0)
        : form(std::make_unique<Form1>(port))
    {
    }
    std::unique_ptr<Form1> form;
    ControllerPeer peer;

    const Form1::Controls &ui() const { return form->controls(); }
    qint16 socketState() const { return ui().Winsock1->State(); }
    quint16 port() const { return quint16(ui().Winsock1->LocalPort()); }
    bool waitForSocketState(qint16 state) const
    {
        return waitUntil([&] { return socketState() == state; }, 10000);
    }
    bool startListening()
    {
        form->show();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        return QTest::qWaitForWindowExposed(form.get())
            && waitForSocketState(SocketControl::sckListening);
    }
    bool startConnected()
    {
        return startListening() && peer.connectTo(port(), 10000)
            && waitForSocketState(SocketControl::sckConnected);
    }
    bool identify(ControllerPeer &controller)
    {
        controller.send("STEROWNIK");
        return waitUntil([&] { return ui().Shape2->backColor() == Bgr::Green; }, 10000);
    }
    bool arrived(const QByteArray &text) const
    {
        return waitUntil([&] { return ui().Label3->text() == QLatin1String(text); }, 10000);
    }

    // I1 … I8 then the link bar: G green, R red, ? another colour.
    QByteArray lights() const
    {
        QByteArray shown;
        for (const ShapeControl *s : ui().I)
            shown += s->backColor() == Bgr::Green ? 'G' : s->backColor() == Bgr::Red ? 'R' : '?';
        return shown + (ui().Shape2->backColor() == Bgr::Green ? 'G' : 'R');
    }
    // Clicked through the window system, as a modal box would block it.
    void press(int id) const
    {
        QWidget *b = ui().S[size_t(id / 10 - 1)][size_t(id % 10 - 1)];
        QTest::mouseClick(b->window()->windowHandle(), Qt::LeftButton, {},
                          b->mapTo(b->window(), b->rect().center()));
    }
};
