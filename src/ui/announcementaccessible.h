#pragma once

#include <QAccessibleObject>
#include <QStringList>

#include <functional>

class QWidget;

// A notification with no place on screen that speaks changes away from the focus (an input,
// the link), which screen readers otherwise keep quiet about. Changes made by one handler
// are said together: one announcement cut short by the next would be lost.
class AnnouncementAccessible : public QAccessibleObject
{
public:
    explicit AnnouncementAccessible(QObject *announcer);

    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    // Adds a change to the next announcement; true when it is the first one waiting.
    bool add(const QString &change);
    // Says what has been added since the last announcement.
    void announce();

    // Where each announcement goes besides Qt's accessibility events: by default UI
    // Automation's notification on Windows, which Qt 6.4 does not raise, and nowhere on
    // Linux, where the events reach the screen reader. A test puts its own in to hear
    // exactly what is said. Returns the one it replaces.
    using Speaker = std::function<void(QWidget *window, const QString &text)>;
    static Speaker setSpeaker(Speaker speaker);

private:
    QStringList m_waiting;
    QString m_message;
};
