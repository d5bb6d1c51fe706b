#pragma once

#include <QAccessibleWidget>
#include <QPointer>
#include <QString>

class QTimer;
class ShapeControl;

// What assistive technology is told about one of the panel's own controls. The panel
// shows states by colour alone; this says them as roles and states that screen readers
// speak, without touching how the control looks or behaves.
class PanelAccessible : public QAccessibleWidget
{
public:
    enum class Kind {
        OutputSwitch, // an output's button, checked while its output is on
        Status, // an input or the link bar, checked while green
        Supervision, // the heartbeat bar, checked while the watchdog runs
        Hidden, // covered by the frames, or heard as part of another control
        Banner, // the title: fixed text, although a line edit underneath
    };

    struct Description
    {
        Kind kind = Kind::Hidden;
        QString name;
        // Spoken beside the checked state, so the state is also heard in the panel's words.
        QString onText, offText;
        QPointer<ShapeControl> indicator; // OutputSwitch, Status: whose state is shown
        QPointer<QTimer> watchdog; // Supervision
    };

    PanelAccessible(QWidget *widget, Description description);

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

    bool isChecked() const;

private:
    bool isCheckable() const;

    Description m_description;
};
