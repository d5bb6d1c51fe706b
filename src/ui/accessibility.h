#pragma once

#include <array>

#include "inboundtext.h"
#include "outputframe.h"

class QAbstractButton;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;
class ShapeControl;

// Names, roles and states of the panel's controls for screen readers and UI-automation
// tools, so the panel can be followed without seeing its colours.
namespace Accessibility {

// The controls that need telling apart from what their widget kinds suggest.
struct Panel
{
    // S<s><n> and O<s><n> at [s - 1][n - 1].
    std::array<std::array<QPushButton *, Output::PerSection>, Output::Sections> buttons {};
    std::array<std::array<ShapeControl *, Output::PerSection>, Output::Sections> outputs {};
    std::array<ShapeControl *, Inbound::InputCount> inputs {};
    ShapeControl *heartbeat = nullptr;
    QTimer *watchdog = nullptr;
    // The watchdog is switched by these two; it has no signal of its own.
    QAbstractButton *start = nullptr, *stop = nullptr;
    ShapeControl *link = nullptr;
    QLineEdit *banner = nullptr;
    std::array<QWidget *, 3> covered {}; // the diagnostic labels beneath the frames
};

void describePanel(const Panel &panel);

} // namespace Accessibility
