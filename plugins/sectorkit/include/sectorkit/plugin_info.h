// The description every plugin of the project gives of itself (PsrQueryPlugin): its name, the
// project's copyright and author lines, its versions and the inputs it inspects.
#pragma once

#include <cstdint>

#include "streamkit/psr.h"

namespace sectorkit {

// Fills `info` (texts cut to their fields, always ended); 0 when it is null, else 1.
int32_t describePlugin(PsrPluginInfo* info, const char* name, uint16_t version, uint16_t subVersion,
                       uint16_t mediaFlags);

} // namespace sectorkit
