#include "convert/lame_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace tamlib::convert {

namespace {

constexpr const char* kDefaultLibrary = "libmp3lame.so.0";
constexpr const char* kLibraryVariable = "TAMRIN_LAME_LIBRARY";

template <typename Function> bool bind(void* handle, const char* name, Function& slot, std::string& problem)
{
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        problem = std::string("the MP3 encoder library has no function ") + name;
        slot = nullptr;
        return false;
    }
    slot = reinterpret_cast<Function>(symbol);
    return true;
}

} // namespace

std::string LameLibrary::libraryName()
{
    const char* named = std::getenv(kLibraryVariable);
    return named && *named ? std::string(named) : std::string(kDefaultLibrary);
}

LameLibrary::LameLibrary()
{
    const std::string name = libraryName();
    m_handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* why = dlerror();
        m_problem =
            "the MP3 encoder library " + name + " cannot be loaded" + (why ? std::string(": ") + why : "");
        m_status = Status::Missing;
        return;
    }
    if (!bindAll()) {
        dlclose(m_handle);
        m_handle = nullptr;
        m_api = LameApi{};
        m_status = Status::Incomplete;
        return;
    }
    m_status = Status::Ready;
}

LameLibrary::~LameLibrary()
{
    if (m_handle)
        dlclose(m_handle);
}

bool LameLibrary::bindAll()
{
    void* h = m_handle;
    std::string& p = m_problem;
    LameApi& a = m_api;
    return bind(h, "lame_init", a.init, p) && bind(h, "lame_close", a.close, p) &&
           bind(h, "lame_set_errorf", a.setErrorf, p) && bind(h, "lame_set_debugf", a.setDebugf, p) &&
           bind(h, "lame_set_msgf", a.setMsgf, p) &&
           bind(h, "lame_set_in_samplerate", a.setInSamplerate, p) &&
           bind(h, "lame_set_out_samplerate", a.setOutSamplerate, p) &&
           bind(h, "lame_set_num_channels", a.setNumChannels, p) && bind(h, "lame_set_mode", a.setMode, p) &&
           bind(h, "lame_set_force_ms", a.setForceMs, p) && bind(h, "lame_set_brate", a.setBrate, p) &&
           bind(h, "lame_get_brate", a.getBrate, p) && bind(h, "lame_set_VBR", a.setVbr, p) &&
           bind(h, "lame_set_VBR_q", a.setVbrQ, p) &&
           bind(h, "lame_set_VBR_min_bitrate_kbps", a.setVbrMinKbps, p) &&
           bind(h, "lame_set_VBR_max_bitrate_kbps", a.setVbrMaxKbps, p) &&
           bind(h, "lame_set_VBR_hard_min", a.setVbrHardMin, p) &&
           bind(h, "lame_set_quality", a.setQuality, p) &&
           bind(h, "lame_set_lowpassfreq", a.setLowpassFreq, p) &&
           bind(h, "lame_set_lowpasswidth", a.setLowpassWidth, p) &&
           bind(h, "lame_set_emphasis", a.setEmphasis, p) &&
           bind(h, "lame_set_bWriteVbrTag", a.setWriteVbrTag, p) &&
           bind(h, "lame_set_write_id3tag_automatic", a.setWriteId3Automatic, p) &&
           bind(h, "lame_init_params", a.initParams, p) && bind(h, "lame_encode_buffer", a.encodeBuffer, p) &&
           bind(h, "lame_encode_buffer_interleaved", a.encodeBufferInterleaved, p) &&
           bind(h, "lame_encode_flush", a.encodeFlush, p) &&
           bind(h, "lame_get_lametag_frame", a.getLametagFrame, p) &&
           bind(h, "lame_get_encoder_delay", a.getEncoderDelay, p) &&
           bind(h, "get_lame_version", a.getVersion, p) &&
           bind(h, "get_lame_version_numerical", a.getVersionNumerical, p);
}

} // namespace tamlib::convert
