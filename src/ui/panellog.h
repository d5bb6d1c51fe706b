#pragma once

#include <QLoggingCategory>

// The window's events in the history: supervision, identification, inputs, outputs and
// failures. QT_LOGGING_RULES="korvan.panel.info=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcPanel)
