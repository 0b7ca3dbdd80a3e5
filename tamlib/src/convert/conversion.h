// What every converter shares: the progress callback (none given: go on), the drive that disc
// streams come from, the stream opened for the length of one conversion, and the output path
// taken from a settings record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "streamkit/lbr.h"
#include "tamlib/convert.h"

namespace tamlib::convert {

class Progress
{
  public:
    Progress(PlbProgressFn callback, void* user) : m_callback(callback), m_user(user) {}
    // False once the caller asked to stop.
    bool report(uint32_t positionMs, uint32_t lengthMs) const
    {
        return !m_callback || m_callback(positionMs, lengthMs, m_user) != 0;
    }

  private:
    PlbProgressFn m_callback;
    void* m_user;
};

// The stream of one conversion, closed when this goes. The description is the caller's copy as
// the plugin completed it on opening.
class ConversionStream
{
  public:
    // `mode`: LBR_WANT_VIDEO and/or LBR_WANT_AUDIO. A disc stream (no file name) is read from the
    // drive set for this thread with PlbSetConvertDrive, else the one of the settings.
    ConversionStream(const char* pluginName, const char* fileName, const StrInfo& info, uint32_t mode);
    ~ConversionStream();
    ConversionStream(const ConversionStream&) = delete;
    ConversionStream& operator=(const ConversionStream&) = delete;

    bool isOpen() const { return m_stream != nullptr; }
    StreamState* get() const { return m_stream; }
    const StrInfo& info() const { return m_info; }

  private:
    StreamState* m_stream = nullptr;
    StrInfo m_info{};
};

// The path of a settings record: false when it is empty or not ended within the record.
bool outputPath(const char (&field)[PLB_PATH_BYTES], std::filesystem::path& path);

} // namespace tamlib::convert
