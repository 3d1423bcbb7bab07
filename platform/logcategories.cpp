#include "platform/logcategories.h"

Q_LOGGING_CATEGORY(lcDevice, "mervik.device")
Q_LOGGING_CATEGORY(lcInterface, "mervik.interface")
Q_LOGGING_CATEGORY(lcSearch, "mervik.search")
Q_LOGGING_CATEGORY(lcController, "mervik.controller")
Q_LOGGING_CATEGORY(lcLog, "mervik.log")
Q_LOGGING_CATEGORY(lcUi, "mervik.ui")
Q_LOGGING_CATEGORY(lcPlatform, "mervik.platform")
