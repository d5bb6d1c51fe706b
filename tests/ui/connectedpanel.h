#pragma once

#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// A shown panel on a system-picked port, supervising, with a real controller connected.
struct ConnectedPanel
{
    std::unique_ptr<Form1> form = std::make_unique<Form1>(0);
    ControllerPeer peer;

    const Form1::Controls &ui() const { return form->controls(); }
    qint16 socketState() const { return ui().Winsock1->State(); }
    bool waitForSocketState(qint16 state) const
    {
        return waitUntil([&] { return socketState() == state; }, 10000);
    }
    bool startConnected()
    {
        form->show();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        return QTest::qWaitForWindowExposed(form.get())
            && waitForSocketState(SocketControl::sckListening)
            && peer.connectTo(quint16(ui().Winsock1->LocalPort()), 10000)
            && waitForSocketState(SocketControl::sckConnected);
    }

    ShapeControl *output(int id) const { return ui().O[size_t(id / 10 - 1)][size_t(id % 10 - 1)]; }
    // Clicked through the window system, as a modal box would block it.
    void press(int id) const
    {
        QWidget *b = ui().S[size_t(id / 10 - 1)][size_t(id % 10 - 1)];
        QTest::mouseClick(b->window()->windowHandle(), Qt::LeftButton, {},
                          b->mapTo(b->window(), b->rect().center()));
    }
};
