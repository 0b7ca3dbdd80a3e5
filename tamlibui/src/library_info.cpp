// The Qt version the library was built with and runs on, for the about box and bug reports.
#include "tamlibui/library_info.h"

#include <QtGlobal>

namespace tamlibui {

std::string qtVersionLine()
{
    return std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")";
}

} // namespace tamlibui
