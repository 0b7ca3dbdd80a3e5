// The one export of the AVI module: its table of functions (convert/avi_module.h). The codec
// entries answer from the codec list of video_encoder.h.
#include <cstring>

#include "avi_writer.h"
#include "tamrin_common/c_guard.h"
#include "video_encoder.h"

namespace tamlib::avi {

namespace {

int32_t describe(const CodecEntry& entry, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    if (options)
        *options = entry.options;
    if (info)
        *info = entry.info;
    return 1;
}

int32_t codecAt(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const std::vector<CodecEntry>& codecs = usableCodecs();
        if (index < 0 || size_t(index) >= codecs.size())
            return 0;
        return describe(codecs[size_t(index)], options, info);
    });
}

int32_t codecFind(uint32_t handler, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const CodecEntry* entry = findCodec(handler);
        return entry ? describe(*entry, options, info) : 0;
    });
}

TamlibAviWriter* open(const char* path, const TamlibAviSetup* setup, int32_t* result, int32_t* compressed,
                      char* error)
{
    return tamrin::guarded<TamlibAviWriter*>(nullptr, [&] {
        if (result)
            *result = TAMLIB_AVI_FILE_FAILED;
        if (error)
            std::strcpy(error, "out of memory");
        return writerOpen(path, setup, result, compressed, error);
    });
}

int32_t frame(TamlibAviWriter* writer, const uint8_t* bottomUpBgr, uint32_t stride, char* error)
{
    return tamrin::guarded<int32_t>(0, [&] { return writerFrame(writer, bottomUpBgr, stride, error); });
}

int32_t audio(TamlibAviWriter* writer, const uint8_t* pcm, uint32_t bytes, char* error)
{
    return tamrin::guarded<int32_t>(0, [&] { return writerAudio(writer, pcm, bytes, error); });
}

int32_t finish(TamlibAviWriter* writer, char* error)
{
    return tamrin::guarded<int32_t>(0, [&] { return writerFinish(writer, error); });
}

void discard(TamlibAviWriter* writer)
{
    tamrin::guardedVoid([&] { writerDiscard(writer); });
}

constexpr TamlibAviModule kTable = {
    TAMLIB_AVI_MODULE_VERSION,
    sizeof(TamlibAviModule),
    open,
    frame,
    audio,
    finish,
    discard,
    codecAt,
    codecFind,
};

} // namespace

} // namespace tamlib::avi

extern "C" __attribute__((visibility("default"))) const TamlibAviModule* tamlibAviModule()
{
    return &tamlib::avi::kTable;
}
