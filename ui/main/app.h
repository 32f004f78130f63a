// Connects the main window's commands to the preview and gallery windows.
#pragma once

#include "settings/settings.h"
#include "ui/main/velkor_m.h"

void WireWindows(Velkor_M& main, SharedState& state);
