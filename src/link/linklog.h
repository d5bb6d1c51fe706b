#pragma once

#include <QLoggingCategory>

// The link's lines in the panel's history ("korvan.link"): one line per event, plain
// English, never raw bytes from the network.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
