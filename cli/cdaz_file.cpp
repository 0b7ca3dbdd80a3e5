#include "cdaz_file.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <iostream>
#include <system_error>
#include <vector>

#include "commands.h"
#include "library_session.h"
#include "output.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

bool endsWithCdaz(const std::string& name)
{
    return name.size() >= 5 && strcasecmp(name.c_str() + name.size() - 5, ".cdaz") == 0;
}

} // namespace

CdazLocation locationOfPath(const fs::path& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error)
        absolute = path;
    absolute = absolute.lexically_normal();
    CdazLocation location;
    location.fileName = absolute.filename().string();
    std::string folder = absolute.parent_path().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    location.folder = folder;
    location.path = absolute;
    return location;
}

CdazLocation locateCdaz(const std::string& argument)
{
    std::error_code error;
    if (argument.find('/') != std::string::npos || fs::exists(argument, error))
        return locationOfPath(argument);
    CdazLocation location;
    location.fileName = endsWithCdaz(argument) ? argument : argument + ".cdaz";
    location.path = analyzeFolderPath() / location.fileName;
    return location;
}

std::optional<LoadedCdaz> loadCdaz(const CdazLocation& location, const std::string& subject, std::string* why,
                                   CdazUse use)
{
    const auto fail = [&](const char* reason) -> std::optional<LoadedCdaz> {
        reportError(subject, location.path.string() + ": " + reason);
        if (why)
            *why = reason;
        return std::nullopt;
    };
    std::error_code error;
    if (fs::is_directory(location.path, error))
        return fail("is a folder, not a CDAZ file");
    int32_t status = 0;
    const auto loader = use == CdazUse::Inspect ? PlbReadCDAZ : PlbLoadCDAZ;
    const PlbCdazLoad load =
        loader(location.folder.empty() ? nullptr : location.folder.c_str(), location.fileName.c_str(), &status);
    if (const std::string note = inMemoryNote(load.status, use); load.record && !note.empty())
        std::cerr << subject << ": " << location.path.string() << ": " << note << '\n';
    if (load.record)
        return LoadedCdaz{CdazPointer(load.record), load.status};
    switch (load.status) {
    case PLB_CDAZ_LOAD_MISSING:
        return fail("no such CDAZ file");
    case PLB_CDAZ_LOAD_CANNOT_OPEN:
        return fail("cannot be opened");
    case PLB_CDAZ_LOAD_BAD_VERSION:
        return fail("not a CDAZ file of a known format version");
    default:
        return fail("damaged CDAZ file (shorter than its header or its contents corrupt)");
    }
}

std::string saveFailureReason()
{
    const int error = errno;
    if (error == EFBIG)
        return "the file would pass the file-size limit of this program (ulimit -f)";
    return error ? std::strerror(error) : "unknown reason";
}

std::string inMemoryNote(uint32_t status, CdazUse use)
{
    if (!(status & PLB_CDAZ_LOAD_IN_MEMORY))
        return {};
    if (use == CdazUse::Inspect)
        return "an older CDAZ format version, read as the current one in memory; the file is left unchanged";
    return "an older CDAZ format version that cannot be replaced by the current one here (read-only?); "
           "converted in memory only, the file is left unchanged";
}

namespace {

struct FlagWord
{
    uint32_t bit;
    const char* word;
};

template <size_t N> std::string flagWords(uint32_t value, const FlagWord (&words)[N], int digits)
{
    std::string text;
    uint32_t known = 0;
    for (const FlagWord& word : words) {
        known |= word.bit;
        if (value & word.bit)
            text += (text.empty() ? "" : ", ") + std::string(word.word);
    }
    if (const uint32_t other = value & ~known)
        text += (text.empty() ? "" : ", ") + hexText(other, digits);
    return text.empty() ? "none" : text;
}

constexpr FlagWord kLoadWords[] = {
    {PLB_CDAZ_LOAD_NO_PLUGIN, "noPlugin"},
    {PLB_CDAZ_LOAD_REANALYZE, "reanalyze"},
    {PLB_CDAZ_LOAD_OTHER_FOLDER, "otherFolder"},
    {PLB_CDAZ_LOAD_IN_MEMORY, "convertedInMemory"},
};
constexpr FlagWord kCdazWords[] = {{PLB_CDAZ_KEEP_OVERLAPS, "keepOverlaps"}};
constexpr FlagWord kPluginWords[] = {{PLB_CDAZ_PLUGIN_OFF, "off"}};
constexpr FlagWord kStreamWords[] = {
    {PLB_CDAZ_STREAM_USER_HIDDEN, "userHidden"},
    {PLB_CDAZ_STREAM_USER1, "user1"},
    {PLB_CDAZ_STREAM_USER2, "user2"},
    {PLB_CDAZ_STREAM_NO_PLUGIN, "noPlugin"},
    {PLB_CDAZ_STREAM_REANALYZE, "reanalyze"},
    {PLB_CDAZ_STREAM_HIDDEN, "hidden"},
    {PLB_CDAZ_STREAM_NO_KIND, "noKind"},
};

constexpr int32_t kNotEffective =
    PLB_CDAZ_STREAM_USER_HIDDEN | PLB_CDAZ_STREAM_REANALYZE | PLB_CDAZ_STREAM_HIDDEN;
constexpr int32_t kNotValid = kNotEffective | PLB_CDAZ_STREAM_NO_PLUGIN | PLB_CDAZ_STREAM_NO_KIND;

} // namespace

std::string loadStatusWords(uint32_t status)
{
    return flagWords(status, kLoadWords, 8);
}

std::string cdazFlagWords(int32_t flags)
{
    return flagWords(uint32_t(flags), kCdazWords, 2);
}

std::string streamFlagWords(int32_t flags)
{
    return flagWords(uint32_t(flags), kStreamWords, 2);
}

std::string pluginFlagWords(int32_t flags)
{
    return flagWords(uint32_t(flags), kPluginWords, 2);
}

CdazContents readCdazContents(CdazRecord* record)
{
    CdazContents contents;
    char name[PLB_CDAZ_NAME_BYTES], title[PLB_CDAZ_TITLE_BYTES], prefix[PLB_CDAZ_PREFIX_BYTES];
    const int32_t streams = PlbGetCDAZInfo(record, name, title, prefix, &contents.flags, &contents.anaSector);
    contents.name = recordText(name, sizeof name);
    contents.title = recordText(title, sizeof title);
    contents.prefix = recordText(prefix, sizeof prefix);
    for (int32_t index = 0; index < streams; ++index) {
        CdazStreamView stream;
        char text[PLB_CDAZ_STREAM_NAME_BYTES];
        if (PlbGetCDAZStream(record, index, &stream.info, text, &stream.flags, &stream.pluginIndex) == 0)
            break;
        stream.name = recordText(text, sizeof text);
        char number[16];
        std::snprintf(number, sizeof number, "%04d", index + 1);
        stream.ownName = stream.name != contents.prefix + number;
        contents.effectiveStreams += (stream.flags & kNotEffective) == 0;
        contents.validStreams += (stream.flags & kNotValid) == 0;
        contents.streams.push_back(std::move(stream));
    }
    for (int32_t index = 0;; ++index) {
        CdazPluginView plugin;
        char file[PLB_CDAZ_PLUGIN_FILE_BYTES], pluginName[PLB_CDAZ_PLUGIN_NAME_BYTES];
        char author[PLB_CDAZ_AUTHOR_BYTES], address[PLB_CDAZ_ADDRESS_BYTES];
        int16_t version = 0;
        if (PlbGetCDAZPlugin(record, index, file, pluginName, &version, author, address) == 0)
            break;
        plugin.file = recordText(file, sizeof file);
        plugin.name = recordText(pluginName, sizeof pluginName);
        plugin.author = recordText(author, sizeof author);
        plugin.address = recordText(address, sizeof address);
        plugin.version = uint16_t(version);
        contents.plugins.push_back(std::move(plugin));
    }
    // The flags last: asking for them marks the record edited.
    for (size_t index = 0; index < contents.plugins.size(); ++index)
        contents.plugins[index].flags = PlbSetCDAZPluginFlags(record, int32_t(index), 0, 0);
    return contents;
}

} // namespace tamrin::cli
