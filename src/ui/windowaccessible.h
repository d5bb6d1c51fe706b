#pragma once

#include <QAccessibleWidget>

// A top-level window that screen readers present as what it is (Qt makes a plain widget a
// "filler"), with the window's announcements, if it has any, as its last child.
class WindowAccessible : public QAccessibleWidget
{
public:
    WindowAccessible(QWidget *window, QAccessible::Role role);

    // The object whose accessible interface makes the window's announcements.
    static QObject *announcer(QWidget *window);
    static QObject *createAnnouncer(QWidget *window);

    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
};
