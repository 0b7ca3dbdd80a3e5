// The AVI writer of the module: libavformat's AVI muxer writing through its own I/O onto an
// OutputFile, so that the file has a hidden name until it is finished. The functions are those of
// the module's table (convert/avi_module.h).
#pragma once

#include "convert/avi_module.h"

namespace tamlib::avi {

TamlibAviWriter* writerOpen(const char* path, const TamlibAviSetup* setup, int32_t* result,
                            int32_t* compressed, char* error);
int32_t writerFrame(TamlibAviWriter* writer, const uint8_t* bottomUpBgr, uint32_t stride, char* error);
int32_t writerAudio(TamlibAviWriter* writer, const uint8_t* pcm, uint32_t bytes, char* error);
int32_t writerFinish(TamlibAviWriter* writer, char* error);
void writerDiscard(TamlibAviWriter* writer);

} // namespace tamlib::avi
