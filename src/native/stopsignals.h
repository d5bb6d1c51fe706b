#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// The operating system's requests to end the program (SIGTERM from a service manager or a
// shut-down, SIGINT from Ctrl+C, SIGHUP from a closed terminal or a log-out), turned into a
// signal of the event loop so that the program ends the way its own Exit does. Windows
// sends a GUI program no such signals; its session end reaches Qt instead.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // False when the handlers could not be installed; the signals then act as before.
    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    // name: "SIGTERM", "SIGINT" or "SIGHUP". Emitted once; a second signal while the program
    // is ending acts as the system's default, so a stuck program can still be stopped.
    void stopRequested(const QString &name);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
