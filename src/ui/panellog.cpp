#include "panellog.h"

Q_LOGGING_CATEGORY(lcPanel, "korvan.panel")
