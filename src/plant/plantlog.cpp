#include "plantlog.h"

Q_LOGGING_CATEGORY(lcBroker, "korvan.broker")
