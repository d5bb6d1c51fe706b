#include "linklog.h"

Q_LOGGING_CATEGORY(lcLink, "korvan.link")
