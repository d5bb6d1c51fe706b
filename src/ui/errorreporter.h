#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>

class QMessageBox;
class QWidget;

// The one boundary where a failure inside an event handler ends. The handler stops at
// the failing step, the steps before it stay done, the operator is told in a box that
// does not block the event loop, and the program goes on.
class ErrorReporter : public QObject
{
    Q_OBJECT

public:
    explicit ErrorReporter(QWidget *window);

    // Runs one handler; nothing it throws gets past here.
    template<typename Body>
    void run(const char *handler, Body &&body) noexcept
    {
        try {
            body();
        } catch (const std::exception &e) {
            report(handler, QString::fromUtf8(e.what()));
        } catch (...) {
            report(handler, QStringLiteral("Nieznany błąd."));
        }
    }

Q_SIGNALS:
    void reported(const QString &handler, const QString &description);

private:
    void report(const char *handler, const QString &description) noexcept;

    QWidget *m_window;
    QHash<QString, QPointer<QMessageBox>> m_open;
};
