#pragma once

#include <QLoggingCategory>

// The program's own events in the history: started with which settings, a second start
// refused, ended.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
