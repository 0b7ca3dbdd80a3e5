// Loads arbitrary bytes as a CDAZ file. Version 4 is converted as the store converts it; version 5
// is parsed with the post-load check. A record that loads is edited a little, written, read back
// and written again: the second file must equal the first, and the reading operations must hold.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_store.h"

namespace {

using namespace tamlib;

const std::vector<InstalledPlugin>& installed()
{
    static const std::vector<InstalledPlugin> plugins = [] {
        std::vector<InstalledPlugin> list(2);
        list[0].file = "DISCMOVIE.PSR";
        list[0].name = "movie";
        list[1].file = "DISCVOICE.PSR";
        list[1].name = "voice";
        return list;
    }();
    return plugins;
}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "cdaz_fuzz: %s\n", what);
        std::abort();
    }
}

// The read-out operations on every entry, then a plugin move and a full write-read-write.
void exercise(CdazRecord* record)
{
    char text[PLB_CDAZ_STREAM_NAME_BYTES];
    char file[PLB_CDAZ_PLUGIN_FILE_BYTES], name[PLB_CDAZ_PLUGIN_NAME_BYTES], author[PLB_CDAZ_AUTHOR_BYTES];
    const int32_t streams = PlbGetCDAZInfo(record, text, nullptr, nullptr, nullptr, nullptr);
    check(streams == record->streamCount, "stream count");
    for (int32_t i = 0; i < streams; ++i) {
        StrInfo info;
        int32_t flags = 0, plugin = 0;
        check(PlbGetCDAZStream(record, i, &info, text, &flags, &plugin) == 1, "stream read-out");
        check(plugin < record->pluginCount, "plugin index");
    }
    int16_t version = 0;
    for (int32_t p = 0; p < record->pluginCount; ++p)
        check(PlbGetCDAZPlugin(record, p, file, name, &version, author, author) == 1, "plugin read-out");

    std::vector<uint8_t> first = cdazWriteV5(*record);
    CdazRecord* back = cdazReadV5(first);
    check(back != nullptr, "a written file does not read back");
    check(cdazWriteV5(*back) == first, "a file read back is written differently");
    cdazFree(back);

    if (record->pluginCount > 1) {
        PlbSetCDAZPluginPriority(record, 0, record->pluginCount - 1);
        PlbGetCDAZStream(record, 0, nullptr, nullptr, nullptr, nullptr);
        CdazRecord* moved = cdazReadV5(cdazWriteV5(*record));
        check(moved != nullptr, "a reordered record does not read back");
        cdazFree(moved);
    }
}

// The same bytes through the file loader, from a memory file made once and rewritten per input.
void loadThroughFile(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("cdaz-fuzz", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0)
        return;
    if (size == 0 || ::pwrite(fd, data, size, 0) == ssize_t(size)) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        uint32_t status = 0;
        CdazRecord* record = cdazLoadFile(path, installed(), 0, &status);
        check((record != nullptr) == (status < PLB_CDAZ_LOAD_BAD_VERSION), "status and record disagree");
        cdazFree(record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    if (size > 0 && data[0] == 4) {
        CdazRecord* converted = cdazReadV4(bytes);
        if (converted) {
            cdazNormalizeIfDirty(*converted);
            uint32_t status = 0;
            CdazRecord* record = cdazLoadV5(cdazWriteV5(*converted), installed(), 0, &status);
            check(record != nullptr, "a converted file does not load");
            exercise(record);
            cdazFree(record);
        }
        cdazFree(converted);
    } else {
        uint32_t status = 0;
        CdazRecord* record = cdazLoadV5(bytes, installed(), 0, &status);
        check((record != nullptr) == (status < PLB_CDAZ_LOAD_BAD_VERSION), "status and record disagree");
        if (record)
            exercise(record);
        cdazFree(record);
    }
    if (size < 4096)
        loadThroughFile(data, size);
    return 0;
}
