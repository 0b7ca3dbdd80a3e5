#include "convert/conversion.h"

#include <cstring>

#include "tamlib/environment.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

thread_local int32_t t_drive = -1;

} // namespace

ConversionStream::ConversionStream(const char* pluginName, const char* fileName, const StrInfo& info, uint32_t mode)
    : m_info(info)
{
    int32_t drive = t_drive;
    if (!fileName && drive < 0)
        drive = PlbGetCdDrive(nullptr, nullptr, nullptr);
    m_stream = LbrOpenStream(pluginName, fileName, drive, &m_info, mode);
}

ConversionStream::~ConversionStream()
{
    if (m_stream)
        LbrCloseStream(m_stream);
}

bool outputPath(const char (&field)[PLB_PATH_BYTES], std::filesystem::path& path)
{
    const size_t length = strnlen(field, PLB_PATH_BYTES);
    if (length == 0 || length == PLB_PATH_BYTES)
        return false;
    path = std::filesystem::path(std::string(field, length));
    return true;
}

} // namespace tamlib::convert

PLB_API int32_t PlbSetConvertDrive(int32_t drive)
{
    const int32_t previous = tamlib::convert::t_drive;
    tamlib::convert::t_drive = drive < 0 ? -1 : drive;
    return previous;
}
