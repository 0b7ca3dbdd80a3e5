// The MP3 encoder, LAME, loaded at run time: the library is looked up by name when a conversion
// (or the question whether one is possible) needs it, every function this library calls is bound
// by name, and the library is unloaded again when the object goes. Nothing of LAME is linked;
// its header gives the types only.
//
// The library loaded is "libmp3lame.so.0", or the file or name that the environment variable
// TAMRIN_LAME_LIBRARY gives (a LAME installed elsewhere; the tests' missing or incomplete one).
#pragma once

#include <lame/lame.h>

#include <string>

namespace tamlib::convert {

// The LAME functions used, bound by name.
struct LameApi
{
    lame_global_flags* (*init)(void);
    int (*close)(lame_global_flags*);
    int (*setErrorf)(lame_global_flags*, lame_report_function);
    int (*setDebugf)(lame_global_flags*, lame_report_function);
    int (*setMsgf)(lame_global_flags*, lame_report_function);
    int (*setInSamplerate)(lame_global_flags*, int);
    int (*setOutSamplerate)(lame_global_flags*, int);
    int (*setNumChannels)(lame_global_flags*, int);
    int (*setMode)(lame_global_flags*, MPEG_mode);
    int (*setForceMs)(lame_global_flags*, int);
    int (*setBrate)(lame_global_flags*, int);
    int (*getBrate)(const lame_global_flags*);
    int (*setVbr)(lame_global_flags*, vbr_mode);
    int (*setVbrQ)(lame_global_flags*, int);
    int (*setVbrMinKbps)(lame_global_flags*, int);
    int (*setVbrMaxKbps)(lame_global_flags*, int);
    int (*setVbrHardMin)(lame_global_flags*, int);
    int (*setQuality)(lame_global_flags*, int);
    int (*setLowpassFreq)(lame_global_flags*, int);
    int (*setLowpassWidth)(lame_global_flags*, int);
    int (*setEmphasis)(lame_global_flags*, int);
    int (*setWriteVbrTag)(lame_global_flags*, int);
    void (*setWriteId3Automatic)(lame_global_flags*, int);
    int (*initParams)(lame_global_flags*);
    int (*encodeBuffer)(lame_global_flags*, const short*, const short*, int, unsigned char*, int);
    int (*encodeBufferInterleaved)(lame_global_flags*, short*, int, unsigned char*, int);
    int (*encodeFlush)(lame_global_flags*, unsigned char*, int);
    size_t (*getLametagFrame)(const lame_global_flags*, unsigned char*, size_t);
    int (*getEncoderDelay)(const lame_global_flags*);
    const char* (*getVersion)(void);
    void (*getVersionNumerical)(lame_version_t*);
};

class LameLibrary
{
  public:
    enum class Status
    {
        Ready,
        Missing,    // the library could not be loaded
        Incomplete, // a function was not found in it (the library is unloaded)
    };

    LameLibrary();
    ~LameLibrary();
    LameLibrary(const LameLibrary&) = delete;
    LameLibrary& operator=(const LameLibrary&) = delete;

    Status status() const { return m_status; }
    // The bound functions; only while status() is Ready.
    const LameApi& api() const { return m_api; }
    // What the loader said when loading or binding failed.
    const std::string& problem() const { return m_problem; }

    // The name or path that is loaded.
    static std::string libraryName();

  private:
    bool bindAll();

    void* m_handle = nullptr;
    Status m_status = Status::Missing;
    LameApi m_api{};
    std::string m_problem;
};

} // namespace tamlib::convert
