#pragma once

// Resource ids shared by the resource script and the window code.
// Kept to preprocessor definitions: the resource compiler reads this file too.
#define IDI_APP_ICON 101
