#include "announcementaccessible.h"

#include <QWidget>

#include <utility>

#include "panellog.h"
#include "uianotification.h"

namespace {

void speakThroughUia(QWidget *window, const QString &text)
{
    // The handle the window has, if any: asking for one would make a native window.
    const auto outcome = UiaNotification::raise(window ? window->internalWinId() : 0, text);
#ifdef Q_OS_WIN
    static bool told = false;
    if (outcome != UiaNotification::Outcome::Raised && !std::exchange(told, true))
        qCInfo(lcPanel, "changes away from the focus are not passed to UI Automation: %s",
               outcome == UiaNotification::Outcome::Unavailable
                   ? "this Windows has no notification event (Windows 10 1709 or later has)"
                   : "the notification was refused");
#else
    Q_UNUSED(outcome);
#endif
}

AnnouncementAccessible::Speaker &speaker()
{
    static AnnouncementAccessible::Speaker current = speakThroughUia;
    return current;
}

} // namespace

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
    if (speaker())
        speaker()(qobject_cast<QWidget *>(object()->parent()), m_message);
}

AnnouncementAccessible::Speaker AnnouncementAccessible::setSpeaker(Speaker replacement)
{
    return std::exchange(speaker(), std::move(replacement));
}
