// The codec table this module hands to libtamlib (see convert/avi_codecs.h).
#include "convert/avi_codecs.h"
#include "video_encoder.h"

namespace tamlib::avi {

namespace {

int32_t codecCount() noexcept
{
    try {
        return int32_t(usableCodecs().size());
    } catch (...) {
        return 0;
    }
}

int32_t codecEntry(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info) noexcept
{
    try {
        const std::vector<CodecEntry>& codecs = usableCodecs();
        if (index < 0 || size_t(index) >= codecs.size())
            return 0;
        if (options)
            *options = codecs[size_t(index)].options;
        if (info)
            *info = codecs[size_t(index)].info;
        return 1;
    } catch (...) {
        return 0;
    }
}

const CodecTable kTable = {sizeof(CodecTable), &codecCount, &codecEntry};

} // namespace

} // namespace tamlib::avi

extern "C" __attribute__((visibility("default"))) const tamlib::avi::CodecTable* tamlibAviCodecTable()
{
    return &tamlib::avi::kTable;
}
