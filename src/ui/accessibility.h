#pragma once

#include <QString>

#include "bgrcolor.h"
#include "form1.h"

class ShapeControl;

// Names and states of the panel's indicators for screen readers and UI-automation tools,
// so the panel can be read without seeing its colours.
namespace Accessibility {

enum class Meaning {
    Switch, // outputs and inputs: green on, red off
    Link, // the controller's connection
    Heartbeat, // the watchdog's three-colour step
};

QString stateText(Meaning meaning, BgrColor colour);

// Names the indicator "<name>: <state>" and keeps the state in step with its colour.
void describe(ShapeControl *indicator, const QString &name, Meaning meaning);

void describePanel(const Form1::Controls &ui);

} // namespace Accessibility
