// Facts about the user-interface library itself.
#pragma once

#include <string>

#include "tamlibui/export.h"

namespace tamlibui {

// "Qt 6.4.2 (built with 6.4.2)": the Qt the library runs on and the one it was built with.
TAMLIBUI_API std::string qtVersionLine();

} // namespace tamlibui
