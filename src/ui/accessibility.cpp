#include "accessibility.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "announcementaccessible.h"
#include "panelaccessible.h"
#include "shapecontrol.h"
#include "windowaccessible.h"

namespace Accessibility {
namespace {

using Kind = PanelAccessible::Kind;
using Description = PanelAccessible::Description;

// Each described widget carries its description, which thus ends with it.
constexpr char DescriptionProperty[] = "korvanDescription";

QAccessibleInterface *panelFactory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (const QVariant description = widget->property(DescriptionProperty); description.isValid())
        return new PanelAccessible(widget, description.value<Description>());
    // Plain widgets are "filler" to Qt; the two windows are a window and a dialog, so that
    // a screen reader reads the About window's texts when it opens.
    if (className == QLatin1String("Form1"))
        return new WindowAccessible(widget, QAccessible::Window);
    if (className == QLatin1String("Form2"))
        return new WindowAccessible(widget, QAccessible::Dialog);
    return nullptr;
}

// An interface made before the factory knew better (a caption set while the widget was
// built raises an event) would keep answering for the widget: drop it, the factory makes
// ours on the next query.
template<typename Ours>
void replaceCached(QObject *object)
{
    QAccessibleInterface *existing = QAccessible::queryAccessibleInterface(object);
    if (existing && !dynamic_cast<Ours *>(existing))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}

void describe(QWidget *widget, Description description)
{
    widget->setProperty(DescriptionProperty, QVariant::fromValue(std::move(description)));
    replaceCached<PanelAccessible>(widget);
}

AnnouncementAccessible *announcements(QObject *announcer)
{
    return dynamic_cast<AnnouncementAccessible *>(QAccessible::queryAccessibleInterface(announcer));
}

// The checked state changed, and with it the state's words in the description. A control
// away from the focus also says so through the window's announcements.
void announceChecked(QObject *object, QObject *announcer = nullptr)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent state(object, changed);
    QAccessible::updateAccessibility(&state);
    QAccessibleEvent description(object, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);

    AnnouncementAccessible *notice = announcer ? announcements(announcer) : nullptr;
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(object);
    if (!notice || !accessible)
        return;
    const QString change = accessible->text(QAccessible::Name) + QStringLiteral(": ")
        + accessible->text(QAccessible::Description);
    if (notice->add(change)) {
        // Said once the handler is done, with whatever else it changed.
        QMetaObject::invokeMethod(
            announcer,
            [announcer] {
                if (AnnouncementAccessible *waiting = announcements(announcer))
                    waiting->announce();
            },
            Qt::QueuedConnection);
    }
}

void describeSupervision(const Panel &panel, QObject *announcer)
{
    describe(panel.heartbeat,
             {Kind::Supervision, QStringLiteral("Nadzór łącza"), QStringLiteral("działa"),
              QStringLiteral("zatrzymany"), nullptr, panel.watchdog});
    // Told when supervision starts or stops, never per tick: the colour steps mean nothing
    // heard. Queued, so the click's own handler has switched the watchdog first.
    auto reported = std::make_shared<bool>(panel.watchdog->isActive());
    auto refresh = [heartbeat = panel.heartbeat, watchdog = panel.watchdog, reported, announcer] {
        if (watchdog->isActive() == *reported)
            return;
        *reported = watchdog->isActive();
        announceChecked(heartbeat, announcer);
    };
    for (QAbstractButton *button : {panel.start, panel.stop})
        QObject::connect(button, &QAbstractButton::clicked, panel.heartbeat, refresh,
                         Qt::QueuedConnection);
}

} // namespace

void describePanel(const Panel &panel)
{
    static const bool installed = [] {
        QAccessible::installFactory(panelFactory);
        return true;
    }();
    Q_UNUSED(installed);

    QWidget *window = panel.link->window();
    replaceCached<WindowAccessible>(window);
    QObject *announcer = WindowAccessible::createAnnouncer(window);
    QAccessible::registerAccessibleInterface(new AnnouncementAccessible(announcer));

    const QString on = QStringLiteral("włączone"), off = QStringLiteral("wyłączone");
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n) {
            QPushButton *button = panel.buttons[size_t(s - 1)][size_t(n - 1)];
            ShapeControl *output = panel.outputs[size_t(s - 1)][size_t(n - 1)];
            describe(button,
                     {Kind::OutputSwitch, QStringLiteral("Wyjście %1, sekcja %2").arg(n).arg(s), on,
                      off, output, nullptr});
            // The indicator is heard as its button's state; on its own it would say it twice.
            describe(output, {});
            QObject::connect(output, &ShapeControl::backColorChanged, button,
                             [button] { announceChecked(button); });
        }
    }
    for (int k = 1; k <= Inbound::InputCount; ++k) {
        ShapeControl *input = panel.inputs[size_t(k - 1)];
        describe(input,
                 {Kind::Status, QStringLiteral("Wejście %1").arg(k), on, off, input, nullptr});
        QObject::connect(input, &ShapeControl::backColorChanged, input,
                         [input, announcer] { announceChecked(input, announcer); });
    }
    describe(panel.link,
             {Kind::Status, QStringLiteral("Połączenie ze sterownikiem"),
              QStringLiteral("nawiązane"), QStringLiteral("brak"), panel.link, nullptr});
    QObject::connect(panel.link, &ShapeControl::backColorChanged, panel.link,
                     [link = panel.link, announcer] { announceChecked(link, announcer); });
    describeSupervision(panel, announcer);

    describe(panel.banner, {Kind::Banner, {}, {}, {}, nullptr, nullptr});
    for (QWidget *label : panel.covered) {
        describe(label, {});
        // A label with no accessible name of its own announces every new caption; this
        // name is never exposed (the interface reads nothing), it only keeps them quiet.
        label->setAccessibleName(label->objectName());
    }
}

} // namespace Accessibility
