#pragma once

#include <QObject>

// Reports, on standard output, when the first window of this process has been exposed and
// painted, and the process's resident memory at that moment; then ends the process.
class FirstShownProbe : public QObject
{
    Q_OBJECT

public:
    explicit FirstShownProbe(QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void report();

    bool m_seen = false;
};
