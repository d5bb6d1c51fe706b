#include "windowaccessible.h"

#include <QWidget>

namespace {

const char *const AnnouncerName = "Announcements";

} // namespace

WindowAccessible::WindowAccessible(QWidget *window, QAccessible::Role role)
    : QAccessibleWidget(window, role)
{
}

QObject *WindowAccessible::announcer(QWidget *window)
{
    return window->findChild<QObject *>(QLatin1String(AnnouncerName), Qt::FindDirectChildrenOnly);
}

QObject *WindowAccessible::createAnnouncer(QWidget *window)
{
    auto *announcer = new QObject(window);
    announcer->setObjectName(QLatin1String(AnnouncerName));
    return announcer;
}

QAccessibleInterface *WindowAccessible::child(int index) const
{
    const int widgets = QAccessibleWidget::childCount();
    if (index < widgets)
        return QAccessibleWidget::child(index);
    QObject *extra = announcer(widget());
    return index == widgets && extra ? QAccessible::queryAccessibleInterface(extra) : nullptr;
}

int WindowAccessible::childCount() const
{
    return QAccessibleWidget::childCount() + (announcer(widget()) ? 1 : 0);
}

int WindowAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (QObject *extra = announcer(widget()); extra && child && child->object() == extra)
        return QAccessibleWidget::childCount();
    return QAccessibleWidget::indexOfChild(child);
}
