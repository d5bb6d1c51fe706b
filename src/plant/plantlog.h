#pragma once

#include <QLoggingCategory>

// The broker link's lines in the history ("korvan.broker"): connected, refused and why,
// lost, events that could not be published.
Q_DECLARE_LOGGING_CATEGORY(lcBroker)
