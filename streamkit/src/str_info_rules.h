// Rules the host applies to stream descriptions and picture sizes.
#pragma once

#include <cstdint>

#include "streamkit/psr.h"

namespace streamkit {

// A picture at least 2.5 times as wide as it is high is shown halved in width when it is wider
// than 600 pixels, else doubled in height. True when the size was changed.
inline bool applyDisplaySizeRule(int32_t& width, int32_t& height)
{
    if (int64_t(width) * 10 < int64_t(height) * 25)
        return false;
    if (width > 600)
        width /= 2;
    else
        height = int32_t(int64_t(height) * 2);
    return true;
}

// Fills in a missing display size of a moving or still picture from its coded size; moving
// pictures then follow the display-size rule.
inline void completeDisplaySize(StrInfo& info)
{
    if (!(info.kind & (StrVideo | StrStill)) || (info.outWidth != 0 && info.outHeight != 0))
        return;
    info.outWidth = info.width;
    info.outHeight = info.height;
    if (info.kind & StrVideo) {
        int32_t w = int32_t(info.outWidth), h = int32_t(info.outHeight);
        applyDisplaySizeRule(w, h);
        info.outWidth = uint32_t(w);
        info.outHeight = uint32_t(h);
    }
}

} // namespace streamkit
