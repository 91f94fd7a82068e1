#include "ToolkitEnvironment.h"

// Windows reports its own resolution and Qt's Windows platform loads OpenGL only on demand.
void preparePlatformEnvironment() {}
