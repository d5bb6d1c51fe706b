#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Standard input as lines, delivered by the event loop so the simulator never blocks on a
// user who is not typing.
class StdinReader : public QObject
{
    Q_OBJECT

public:
    explicit StdinReader(QObject *parent = nullptr);

    void start();

Q_SIGNALS:
    void lineRead(const QString &line);
    void inputEnded();

private:
    void onReadable();
    void deliver(const QByteArray &bytes, bool atEnd);

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};
