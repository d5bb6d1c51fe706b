#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

// Watches for the application-modal box from inside its own event loop, lets `whileOpen`
// look at the window, then closes it with its OK button once `whileOpen` says so.
class BoxCloser
{
public:
    explicit BoxCloser(std::function<bool(QMessageBox *)> whileOpen = {})
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, whileOpen] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || (whileOpen && !whileOpen(box)))
                return;
            m_timer.stop();
            ++closed;
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(5);
    }
    int closed = 0;

private:
    QTimer m_timer;
};
