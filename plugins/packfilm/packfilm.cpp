// Packfilm: plays compact movie files (.cstr), the repacked form of any movie stream that the
// application's converter writes, so that the movie plays and seeks without its disc.
//
// File layout (all numbers little-endian):
//
//   Header, 84 bytes at 0x00:
//     0x00  u32       magic 0x04B70CC2 (bytes C2 0C B7 04)
//     0x04  u8        formatVersion, 0 to 3 (larger: refused)
//     0x05  char[19]  decoderPlugin: file name of the plugin whose decoding hooks the frames need,
//                     zero-terminated; empty when the host's decoders suffice. A plain file name
//                     of the plugin folder: names with '/', '\' or ".." are refused.
//     0x18  44 bytes  streamInfo: the first 44 bytes of the movie's StrInfo (kind .. dataBytes)
//     0x44  u32       dataOffset: file offset of the first unit
//     0x48  u32       unitAreaBytes: length of the unit area from dataOffset
//     0x4C  u32       indexOffset: file offset of the index
//     0x50  u32       indexBytes: size of the index; 0 when there is none (seeks then restart at
//                     dataOffset and skip forward)
//
//   Extension block, 32 bytes at 0x54, present from formatVersion 1:
//     0x00  u32       audio samples per channel in the file (written, not read)
//     0x04  u16       audio units in the file (written, not read)
//     0x06  u16       indexFlags: 0x0001 every index entry starts with a type byte
//     0x08  u32       outWidth (display size)
//     0x0C  u32       outHeight
//     0x10  16 bytes  reserved, zero
//   Version 0: no extension block; indexFlags 0, the display size is the coded size.
//
//   Index at indexOffset: streamInfo.frameCount entries, one per video frame, each
//     u8   type         only with indexFlags 0x0001 (else 0); types 0 and 0x10 start a seek
//     u32  end time ms  only when streamInfo.kind has StrTimed; else entry i ends at
//                       (i + 1) x step / frameRate, step 10000 (100000 when frameRate > 800)
//     u32  file offset  of the frame's unit record, inside the unit area
//
//   Unit records, one after the other from dataOffset:
//     u16  frameNumber     from 1 for frames, 0 for sound
//     u16  payloadLength   bytes of payload after the optional fields
//     u16  fieldMask       version 2 and 3: always; version 1: when frameNumber is not 0;
//                          version 0: never. Without it no optional field follows.
//     u16  param           fieldMask 0x0001 (else 0): the frame's own rate
//     u16  width           fieldMask 0x0002 (else the streamInfo width for frames, 0 for sound)
//     u16  height          fieldMask 0x0004 (likewise)
//     u16  kindFlags       fieldMask 0x0008: unitKind << 8 | unitFlags (else both 0)
//     payloadLength bytes  the payload. With UnitOwned: u32 block size S, payloadLength - 4
//                          bytes of the rest of the payload, then S bytes of the block.
//   A unit counts as a frame for the defaults when frameNumber is not 0 or unitKind has 0x10.
//
// The decoding exports forward to the decoder plugin the open file names. The hooks are held
// once for the whole library: the latest open wins, and closing a file that loaded a decoder
// plugin clears them (the host's decoders then take over).
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

constexpr uint32_t kMagic = 0x04B70CC2;
constexpr uint8_t kNewestVersion = 3;
constexpr size_t kHeaderBytes = 84;
constexpr size_t kExtensionBytes = 32;
constexpr size_t kDecoderNameBytes = 19;
constexpr size_t kStreamInfoBytes = 44;
constexpr uint16_t kIndexTyped = 0x0001;

constexpr uint16_t kHasParam = 0x0001;
constexpr uint16_t kHasWidth = 0x0002;
constexpr uint16_t kHasHeight = 0x0004;
constexpr uint16_t kHasKindFlags = 0x0008;

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

using InputFile = sectorkit::PlainFile;

struct Header
{
    uint8_t version = 0;
    char decoder[kDecoderNameBytes + 1] = {};
    StrInfo info{};
    uint32_t dataOffset = 0;
    uint32_t unitAreaBytes = 0;
    uint32_t indexOffset = 0;
    uint32_t indexBytes = 0;
    uint16_t indexFlags = 0;

    size_t headerBytes() const { return kHeaderBytes + (version >= 1 ? kExtensionBytes : 0); }
    bool timed() const { return (info.kind & StrTimed) != 0; }
    size_t entryBytes() const { return 4 + ((indexFlags & kIndexTyped) ? 1 : 0) + (timed() ? 4 : 0); }
    uint64_t unitAreaEnd() const { return uint64_t(dataOffset) + unitAreaBytes; }
};

// A decoder plugin name the plugin folder may hold: a plain file name, nothing that leaves it.
bool isPlainFileName(const char* name)
{
    return *name && std::strchr(name, '/') == nullptr && std::strchr(name, '\\') == nullptr &&
           std::strstr(name, "..") == nullptr && std::strcmp(name, ".") != 0;
}

// Reads and checks the header and the extension block: the version, the decoder name, and that
// the unit area and the index lie inside the file and the index holds frameCount entries.
bool readHeader(const InputFile& file, Header& h)
{
    uint8_t bytes[kHeaderBytes + kExtensionBytes] = {};
    if (file.size() < kHeaderBytes || !file.readAt(0, bytes, kHeaderBytes) || le32(bytes) != kMagic)
        return false;
    h.version = bytes[4];
    if (h.version > kNewestVersion)
        return false;
    if (std::memchr(bytes + 5, 0, kDecoderNameBytes) == nullptr)
        return false;
    std::memcpy(h.decoder, bytes + 5, kDecoderNameBytes);
    if (h.decoder[0] && !isPlainFileName(h.decoder))
        return false;
    std::memcpy(&h.info, bytes + 0x18, kStreamInfoBytes);
    h.dataOffset = le32(bytes + 0x44);
    h.unitAreaBytes = le32(bytes + 0x48);
    h.indexOffset = le32(bytes + 0x4C);
    h.indexBytes = le32(bytes + 0x50);
    if (h.version >= 1) {
        if (file.size() < kHeaderBytes + kExtensionBytes ||
            !file.readAt(kHeaderBytes, bytes + kHeaderBytes, kExtensionBytes))
            return false;
        const uint8_t* ext = bytes + kHeaderBytes;
        h.indexFlags = le16(ext + 6);
        h.info.outWidth = le32(ext + 8);
        h.info.outHeight = le32(ext + 12);
    } else {
        h.info.outWidth = h.info.width;
        h.info.outHeight = h.info.height;
    }
    if (h.dataOffset < h.headerBytes() || h.unitAreaEnd() > file.size())
        return false;
    if (h.indexBytes != 0) {
        if (h.indexOffset < h.headerBytes() || uint64_t(h.indexOffset) + h.indexBytes > file.size())
            return false;
        if (uint64_t(h.info.frameCount) * h.entryBytes() > h.indexBytes)
            return false;
    }
    return true;
}

struct IndexEntry
{
    uint8_t type;
    uint32_t endMs;
    uint32_t offset;
};

// The computed end time of frame i (from 0) of an untimed stream.
uint32_t computedEndMs(const StrInfo& info, uint64_t i)
{
    if (info.frameRate == 0)
        return UINT32_MAX;
    const uint64_t step = info.frameRate > 800 ? 100000 : 10000;
    return uint32_t(std::min<uint64_t>((i + 1) * step / info.frameRate, UINT32_MAX));
}

// The index, every entry's unit inside the unit area. Only files that have one read it.
bool readIndex(const InputFile& file, const Header& h, std::vector<IndexEntry>& index)
{
    if (h.indexBytes == 0)
        return true;
    const size_t entryBytes = h.entryBytes();
    const size_t count = h.info.frameCount; // checked against the index size and so the file size
    std::vector<uint8_t> bytes(count * entryBytes);
    if (count != 0 && !file.readAt(h.indexOffset, bytes.data(), bytes.size()))
        return false;
    index.resize(count);
    const uint8_t* p = bytes.data();
    for (size_t i = 0; i < count; ++i) {
        IndexEntry& e = index[i];
        e.type = (h.indexFlags & kIndexTyped) ? *p++ : 0;
        if (h.timed()) {
            e.endMs = le32(p);
            p += 4;
        } else {
            e.endMs = computedEndMs(h.info, i);
        }
        e.offset = le32(p);
        p += 4;
        if (e.offset < h.dataOffset || e.offset >= h.unitAreaEnd())
            return false;
    }
    return true;
}

// ---- the decoder plugin and the forwarded hooks -------------------------------------------

struct Hooks
{
    std::atomic<PsrDecodeFrameFn> decodeFrame{nullptr};
    std::atomic<PsrDecodeBsFn> decodeBs{nullptr};
    std::atomic<PsrDecodeAudioFn> decodeAudio{nullptr};
    std::atomic<PsrOpenFrameDecoderFn> openFrameDecoder{nullptr};
    std::atomic<PsrCloseFrameDecoderFn> closeFrameDecoder{nullptr};
    std::atomic<PsrFrameDecoderFn> frameDecoder{nullptr};

    void clear()
    {
        decodeFrame = nullptr;
        decodeBs = nullptr;
        decodeAudio = nullptr;
        openFrameDecoder = nullptr;
        closeFrameDecoder = nullptr;
        frameDecoder = nullptr;
    }
};

Hooks g_hooks;

// The folder this plugin was loaded from, with its final '/'.
std::string ownFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* ownHandle()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || !info.dli_fname)
        return nullptr;
    void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle); // only its identity is wanted; the host holds the library
    return handle;
}

// Loads a decoder plugin from this plugin's folder: a plugin (it describes itself), and not this
// one (its hooks would forward to themselves). Null when it cannot be had.
void* loadDecoderPlugin(const char* name)
{
    if (!isPlainFileName(name))
        return nullptr;
    const std::string folder = ownFolder();
    if (folder.empty())
        return nullptr;
    const std::string path = folder + name;
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return nullptr;
    if (module == ownHandle() || dlsym(module, "PsrQueryPlugin") == nullptr) {
        dlclose(module);
        return nullptr;
    }
    return module;
}

template <typename Fn> Fn symbol(void* module, const char* name)
{
    return reinterpret_cast<Fn>(dlsym(module, name));
}

void bindHooks(void* module)
{
    g_hooks.decodeFrame = symbol<PsrDecodeFrameFn>(module, "PsrDecodeFrame");
    g_hooks.decodeBs = symbol<PsrDecodeBsFn>(module, "PsrDecodeBs");
    g_hooks.decodeAudio = symbol<PsrDecodeAudioFn>(module, "PsrDecodeAudio");
    g_hooks.openFrameDecoder = symbol<PsrOpenFrameDecoderFn>(module, "PsrOpenFrameDecoder");
    g_hooks.closeFrameDecoder = symbol<PsrCloseFrameDecoderFn>(module, "PsrCloseFrameDecoder");
    g_hooks.frameDecoder = symbol<PsrFrameDecoderFn>(module, "PsrFrameDecoder");
}

// ---- open files ---------------------------------------------------------------------------

struct PackStream
{
    InputFile file;
    Header header;
    std::vector<IndexEntry> index;
    void* decoder = nullptr;
    uint64_t position = 0; // of the next unit record
    uint32_t targetMs = 0; // 0: not seeking

    ~PackStream()
    {
        if (decoder) {
            g_hooks.clear();
            dlclose(decoder);
        }
    }
};

// Reads one unit record at the stream's position into `record`. False at a truncated or damaged
// record (nothing is left allocated).
bool readRecord(PackStream& s, PsrReadRecord* record)
{
    const Header& h = s.header;
    const uint64_t end = h.unitAreaEnd();
    uint64_t at = s.position;
    uint8_t fixed[4];
    if (at + 4 > end || !s.file.readAt(at, fixed, 4))
        return false;
    at += 4;
    record->frameNumber = le16(fixed);
    const uint16_t length = le16(fixed + 2);

    uint16_t mask = 0;
    const bool hasMask = h.version >= 2 || (h.version == 1 && record->frameNumber != 0);
    if (hasMask) {
        uint8_t m[2];
        if (at + 2 > end || !s.file.readAt(at, m, 2))
            return false;
        at += 2;
        mask = le16(m) & (kHasParam | kHasWidth | kHasHeight | kHasKindFlags);
    }
    uint16_t fields[4] = {};
    const int present = std::popcount(mask);
    uint8_t raw[8];
    if (present != 0) {
        if (at + 2u * present > end || !s.file.readAt(at, raw, 2u * present))
            return false;
        at += 2u * present;
        for (int bit = 0, n = 0; bit < 4; ++bit)
            if (mask & (1u << bit))
                fields[bit] = le16(raw + 2 * n++);
    }
    record->param = fields[0];
    record->unitKind = uint8_t(fields[3] >> 8);
    record->unitFlags = uint8_t(fields[3]);
    const bool frame = record->frameNumber != 0 || (record->unitKind & UnitVideo);
    record->width = (mask & kHasWidth) ? fields[1] : frame ? h.info.width : 0;
    record->height = (mask & kHasHeight) ? fields[2] : frame ? h.info.height : 0;

    if (at + length > end)
        return false;
    if (!(record->unitFlags & UnitOwned)) {
        if (length != 0 && !s.file.readAt(at, record->payload, length))
            return false;
        record->payloadBytes = length;
        s.position = at + length;
        return true;
    }
    if (length < 4)
        return false;
    uint8_t sizeBytes[4];
    const size_t rest = length - 4u;
    if (!s.file.readAt(at, sizeBytes, 4) ||
        (rest != 0 && !s.file.readAt(at + 4, record->payload + PSR_OWNED_REF_BYTES, rest)))
        return false;
    at += length;
    const uint32_t blockSize = le32(sizeBytes);
    if (at + blockSize > end)
        return false;
    void* block = std::malloc(std::max<size_t>(blockSize, 1));
    if (!block)
        return false;
    if (blockSize != 0 && !s.file.readAt(at, block, blockSize)) {
        std::free(block);
        return false;
    }
    PsrSetOwnedBlock(record, blockSize, block);
    record->payloadBytes = uint32_t(rest + PSR_OWNED_REF_BYTES);
    s.position = at + blockSize;
    return true;
}

void releaseBlock(PsrReadRecord* record)
{
    if (!(record->unitFlags & UnitOwned) || record->payloadBytes < PSR_OWNED_REF_BYTES)
        return;
    std::free(PsrOwnedBlock(record));
    PsrSetOwnedBlock(record, PsrOwnedBlockSize(record), nullptr);
}

// The end time of the frame numbered `frameNumber` (from 1); a number the index does not know
// ends the seek (UINT32_MAX never stops a target).
uint32_t frameEndMs(const PackStream& s, uint32_t frameNumber)
{
    if (frameNumber == 0)
        return UINT32_MAX;
    if (frameNumber - 1 < s.index.size())
        return s.index[frameNumber - 1].endMs;
    return s.header.timed() ? UINT32_MAX : computedEndMs(s.header.info, frameNumber - 1);
}

int32_t readUnit(PackStream& s, PsrReadRecord* record)
{
    for (;;) {
        std::memset(record, 0, PSR_READ_HEADER_BYTES);
        if (s.position >= s.header.unitAreaEnd() || !readRecord(s, record)) {
            s.position = s.header.unitAreaEnd(); // a damaged record ends the stream
            std::memset(record, 0, PSR_READ_HEADER_BYTES);
            return 0;
        }
        if (s.targetMs == 0)
            return 1;
        const bool frame =
            (record->unitKind & 0xF0) == UnitVideo || (record->unitKind == 0 && record->frameNumber != 0);
        if (frame) {
            if (s.targetMs <= frameEndMs(s, record->frameNumber)) {
                s.targetMs = 0;
                return 1;
            }
            if (record->unitFlags & UnitKey) {
                record->unitFlags |= UnitNoShow; // the decoder needs it; nothing is shown
                return 1;
            }
        } else if (record->unitFlags & UnitKey) {
            return 1;
        }
        releaseBlock(record);
    }
}

int32_t seekTo(PackStream& s, uint32_t ms)
{
    if (s.header.indexBytes == 0 || s.index.empty()) {
        s.position = s.header.dataOffset;
        s.targetMs = ms;
        return 1;
    }
    uint64_t start = s.index[0].offset;
    uint32_t target = 0;
    for (size_t i = 1; i < s.index.size() && s.index[i].endMs < ms; ++i) {
        target = s.index[i].endMs;
        if (s.index[i].type == 0 || s.index[i].type == UnitVideo)
            start = s.index[i].offset;
    }
    s.position = start;
    s.targetMs = target;
    return 1;
}

PackStream* openStream(const char* fileName)
{
    auto* s = new (std::nothrow) PackStream;
    if (!s)
        return nullptr;
    g_hooks.clear();
    if (!s->file.open(fileName) || !readHeader(s->file, s->header) ||
        !readIndex(s->file, s->header, s->index)) {
        delete s;
        return nullptr;
    }
    if (s->header.decoder[0]) {
        s->decoder = loadDecoderPlugin(s->header.decoder);
        if (!s->decoder) {
            delete s;
            return nullptr;
        }
        bindHooks(s->decoder);
    }
    s->position = s->header.dataOffset;
    return s;
}

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return sectorkit::describePlugin(info, "Compact STR", 112, 0, MediaFiles); });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        InputFile file;
        Header header;
        if (!file.open(fileName) || !readHeader(file, header))
            return 0;
        if (!header.decoder[0])
            return 1;
        void* decoder = loadDecoderPlugin(header.decoder);
        if (!decoder)
            return 0;
        dlclose(decoder);
        return 1;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        InputFile file;
        Header header;
        if (!info || !file.open(fileName) || !readHeader(file, header))
            return 0;
        std::memcpy(info, &header.info, sizeof *info);
        return 1;
    });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo*)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* { return openStream(fileName); });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle || !record)
            return 0;
        return readUnit(*static_cast<PackStream*>(handle), record);
    });
}

PSR_EXPORT int32_t PsrFreeReadBuffer(void*, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record)
            return 0;
        releaseBlock(record);
        return 1;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        return seekTo(*static_cast<PackStream*>(handle), positionMs);
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        delete static_cast<PackStream*>(handle);
        return 1;
    });
}

// ---- decoding exports, forwarded to the decoder plugin --------------------------------------

PSR_EXPORT intptr_t PsrDecodeFrame(PsrReadRecord* record, FrameDib* picture)
{
    return tamrin::guarded<intptr_t>(-1, [&]() -> intptr_t {
        const auto hook = g_hooks.decodeFrame.load();
        return hook ? hook(record, picture) : 0;
    });
}

PSR_EXPORT intptr_t PsrDecodeBs(PsrReadRecord* record)
{
    return tamrin::guarded<intptr_t>(-1, [&]() -> intptr_t {
        const auto hook = g_hooks.decodeBs.load();
        return hook ? hook(record) : 0;
    });
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        const auto hook = g_hooks.decodeAudio.load();
        return hook ? hook(record, output, capacity) : 0;
    });
}

PSR_EXPORT void* PsrOpenFrameDecoder()
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        const auto hook = g_hooks.openFrameDecoder.load();
        return hook ? hook() : nullptr;
    });
}

PSR_EXPORT int32_t PsrCloseFrameDecoder(void* context)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        const auto hook = g_hooks.closeFrameDecoder.load();
        return hook ? hook(context) : 0;
    });
}

PSR_EXPORT intptr_t PsrFrameDecoder(void* context, PsrReadRecord* record, FrameDib* picture)
{
    return tamrin::guarded<intptr_t>(-1, [&]() -> intptr_t {
        const auto hook = g_hooks.frameDecoder.load();
        return hook ? hook(context, record, picture) : -1;
    });
}
