#include "announcementaccessible.h"

AnnouncementAccessible::AnnouncementAccessible(QObject *announcer)
    : QAccessibleObject(announcer)
{
}

QAccessibleInterface *AnnouncementAccessible::parent() const
{
    return QAccessible::queryAccessibleInterface(object()->parent());
}

QAccessibleInterface *AnnouncementAccessible::child(int) const
{
    return nullptr;
}

int AnnouncementAccessible::childCount() const
{
    return 0;
}

int AnnouncementAccessible::indexOfChild(const QAccessibleInterface *) const
{
    return -1;
}

QAccessible::Role AnnouncementAccessible::role() const
{
    return QAccessible::Notification;
}

QAccessible::State AnnouncementAccessible::state() const
{
    return {};
}

QString AnnouncementAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Name ? m_message : QString();
}

bool AnnouncementAccessible::add(const QString &change)
{
    m_waiting << change;
    return m_waiting.size() == 1;
}

void AnnouncementAccessible::announce()
{
    if (m_waiting.isEmpty())
        return;
    m_message = m_waiting.join(QStringLiteral(", "));
    m_waiting.clear();
    // The new text first, so that a reader holding the old one has let it go; then the
    // showing that screen readers speak for a notification.
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
