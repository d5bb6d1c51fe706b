#include "panelaccessible.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTimer>

#include "shapecontrol.h"

PanelAccessible::PanelAccessible(QWidget *widget, Description description)
    : QAccessibleWidget(widget)
    , m_description(std::move(description))
{
}

bool PanelAccessible::isCheckable() const
{
    return m_description.kind == Kind::OutputSwitch || m_description.kind == Kind::Status
        || m_description.kind == Kind::Supervision;
}

bool PanelAccessible::isChecked() const
{
    switch (m_description.kind) {
    case Kind::OutputSwitch:
        // The output's state is its indicator's Shape; the colour only shows it.
        return m_description.indicator && m_description.indicator->shape() == 1;
    case Kind::Status:
        return m_description.indicator && m_description.indicator->backColor() == Bgr::Green;
    case Kind::Supervision:
        return m_description.watchdog && m_description.watchdog->isActive();
    case Kind::Hidden:
    case Kind::Banner:
        break;
    }
    return false;
}

QAccessible::Role PanelAccessible::role() const
{
    // A check box is what both AT-SPI and UI Automation map to a control with an on/off
    // state and announce on change; Qt's "indicator" role reaches AT-SPI as "unknown".
    return isCheckable() ? QAccessible::CheckBox : QAccessible::StaticText;
}

QAccessible::State PanelAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    switch (m_description.kind) {
    case Kind::OutputSwitch:
        s.checkable = true;
        s.checked = isChecked();
        break;
    case Kind::Status:
    case Kind::Supervision:
        s.checkable = true;
        s.checked = isChecked();
        s.readOnly = true;
        s.focusable = false;
        break;
    case Kind::Hidden:
        s.invisible = true;
        s.focusable = false;
        break;
    case Kind::Banner:
        s.readOnly = true;
        s.editable = false;
        s.focusable = false;
        break;
    }
    return s;
}

QString PanelAccessible::text(QAccessible::Text t) const
{
    switch (m_description.kind) {
    case Kind::Hidden:
        // Whatever protocol text the label holds stays unread.
        return {};
    case Kind::Banner:
        if (t == QAccessible::Name) {
            if (auto *edit = qobject_cast<const QLineEdit *>(widget()))
                return edit->text();
        }
        return {};
    case Kind::OutputSwitch:
    case Kind::Status:
    case Kind::Supervision:
        break;
    }
    switch (t) {
    case QAccessible::Name:
        return m_description.name;
    case QAccessible::Description:
    case QAccessible::Value:
        return isChecked() ? m_description.onText : m_description.offText;
    default:
        return QAccessibleWidget::text(t);
    }
}

QStringList PanelAccessible::actionNames() const
{
    if (m_description.kind == Kind::OutputSwitch)
        return QStringList {toggleAction()} + QAccessibleWidget::actionNames();
    // Nothing else here reacts to the operator.
    return {};
}

void PanelAccessible::doAction(const QString &actionName)
{
    if (m_description.kind != Kind::OutputSwitch)
        return;
    if (actionName == toggleAction() || actionName == pressAction()) {
        // Clicked from the event loop, not inside the assistive technology's call: a failed
        // send opens a modal box.
        if (auto *button = qobject_cast<QAbstractButton *>(widget()))
            button->animateClick();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}
