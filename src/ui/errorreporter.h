#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>

class QMessageBox;
class QWidget;

// The one boundary where a failure inside an event handler ends. The handler stops at
// the failing step, the steps before it stay done, the operator is told in a box that
// does not block the event loop, and the program goes on.
class ErrorReporter : public QObject
{
    Q_OBJECT

public:
    // What the operator is told besides the failure itself.
    struct Advice
    {
        QString consequence; // what the failure left undone
        QString action; // what to do about it
    };

    // Begins the box's last line, which names the failed handler.
    static const QString IntegratorPrefix;

    explicit ErrorReporter(QWidget *window);

    // Asked at each report, so the advice fits the state the failure left behind.
    void setAdvice(std::function<Advice()> advice) { m_advice = std::move(advice); }

    // Runs one handler; nothing it throws gets past here.
    template<typename Body>
    void run(const QString &handler, Body &&body) noexcept
    {
        try {
            body();
        } catch (const std::exception &e) {
            report(handler, QString::fromUtf8(e.what()));
        } catch (...) {
            report(handler, QStringLiteral("Nieznany błąd."));
        }
    }

    // Runs receiver->handler(args...) through run() on each signal. The name reported is
    // the design's handler name, made of the sender's object name and the event, so it
    // always names the control that raised the event.
    template<typename Sender, typename Signal, typename Receiver, typename... Args>
    void connectHandler(Sender *sender, Signal signal, const char *event, Receiver *receiver,
                        void (Receiver::*handler)(Args...),
                        Qt::ConnectionType type = Qt::AutoConnection)
    {
        QObject::connect(
            sender, signal, receiver,
            [this, receiver, handler, name = handlerName(sender, event)](Args... args) {
                run(name, [&] { (receiver->*handler)(args...); });
            },
            type);
    }

    // The same for a handler that takes a value fixed at connection time.
    template<typename Sender, typename Signal, typename Receiver, typename Bound>
    void connectHandler(Sender *sender, Signal signal, const char *event, Receiver *receiver,
                        void (Receiver::*handler)(Bound), Bound bound)
    {
        QObject::connect(sender, signal, receiver,
                         [this, receiver, handler, bound, name = handlerName(sender, event)] {
                             run(name, [&] { (receiver->*handler)(bound); });
                         });
    }

Q_SIGNALS:
    void reported(const QString &handler, const QString &description);

private:
    static QString handlerName(const QObject *sender, const char *event);
    void report(const QString &handler, const QString &description) noexcept;

    QWidget *m_window;
    std::function<Advice()> m_advice;
    QHash<QString, QPointer<QMessageBox>> m_open;
};
