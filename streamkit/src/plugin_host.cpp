// Plugin binding and the relays of the plugin requests.
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "plugin_binding.h"
#include "str_info_rules.h"
#include "tamrin_common/c_guard.h"

using streamkit::liveBinding;

namespace {

constexpr std::string_view kPluginFolder = "PsrPlugins/";

// The folder of libstreamkit.so itself, with its trailing slash; empty when unknown.
std::string ownFolder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&LbrOpenPSR), &info) || !info.dli_fname)
        return {};
    std::string_view path(info.dli_fname);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

void* loadPlugin(const char* name)
{
    const size_t nameLength = std::strlen(name);
    // A plugin is named by its file name alone; a path would load whatever it points at.
    if (nameLength == 0 || nameLength >= PSR_PATH_MAX || std::memchr(name, '/', nameLength))
        return nullptr;
    std::string path = ownFolder();
    path.append(kPluginFolder).append(name);
    void* module = nullptr;
    if (path.size() < PSR_PATH_MAX)
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    return module;
}

template <typename Fn> void bind(void* module, Fn& slot, const char* exportName)
{
    slot = reinterpret_cast<Fn>(dlsym(module, exportName));
}

void bindAll(PluginBinding& b)
{
    void* m = b.module;
    bind(m, b.PsrQueryPlugin, "PsrQueryPlugin");
    bind(m, b.PsrIsSupportFile, "PsrIsSupportFile");
    bind(m, b.PsrIsSupportCDBegin, "PsrIsSupportCDBegin");
    bind(m, b.PsrIsSupportCDEnd, "PsrIsSupportCDEnd");
    bind(m, b.PsrIsSupportCDSector, "PsrIsSupportCDSector");
    bind(m, b.PsrIsSupportCDResult, "PsrIsSupportCDResult");
    bind(m, b.PsrGetStrFileInfo, "PsrGetStrFileInfo");
    bind(m, b.PsrGetStrDataInfo, "PsrGetStrDataInfo");
    bind(m, b.PsrOpenFile, "PsrOpenFile");
    bind(m, b.PsrOpenCD, "PsrOpenCD");
    bind(m, b.PsrClose, "PsrClose");
    bind(m, b.PsrRead, "PsrRead");
    bind(m, b.PsrFreeReadBuffer, "PsrFreeReadBuffer");
    bind(m, b.PsrSeek, "PsrSeek");
    bind(m, b.PsrOpenFrameDecoder, "PsrOpenFrameDecoder");
    bind(m, b.PsrCloseFrameDecoder, "PsrCloseFrameDecoder");
    bind(m, b.PsrFrameDecoder, "PsrFrameDecoder");
    bind(m, b.PsrDecodeFrame, "PsrDecodeFrame");
    bind(m, b.PsrDecodeBs, "PsrDecodeBs");
    bind(m, b.PsrDecodeAudio, "PsrDecodeAudio");
    bind(m, b.PsrSetEnvironment, "PsrSetEnvironment");
}

bool isComplete(const PluginBinding& b)
{
    if (!b.PsrQueryPlugin || !b.PsrClose || !b.PsrRead || !b.PsrSeek)
        return false;
    if (b.PsrOpenFile && (!b.PsrIsSupportFile || !b.PsrGetStrFileInfo))
        return false;
    if (b.PsrOpenCD && (!b.PsrIsSupportCDBegin || !b.PsrIsSupportCDEnd || !b.PsrIsSupportCDSector ||
                        !b.PsrIsSupportCDResult || !b.PsrGetStrDataInfo))
        return false;
    return true;
}

} // namespace

LBR_API PluginBinding* LbrOpenPSR(const char* pluginFileName)
{
    return tamrin::guarded<PluginBinding*>(nullptr, [&]() -> PluginBinding* {
        if (!pluginFileName)
            return nullptr;
        // Loaded first: nothing of the binding is held while the path is built.
        void* module = loadPlugin(pluginFileName);
        if (!module)
            return nullptr;
        auto* binding = new (std::nothrow) PluginBinding;
        if (!binding) {
            dlclose(module);
            return nullptr;
        }
        binding->module = module;
        bindAll(*binding);
        if (!isComplete(*binding)) {
            dlclose(binding->module);
            delete binding;
            return nullptr;
        }
        binding->tag = PLUGIN_MAGIC;
        if (!streamkit::bindingRegistry().add(binding)) {
            dlclose(binding->module);
            delete binding;
            return nullptr;
        }
        return binding;
    });
}

LBR_API int32_t LbrClosePSR(PluginBinding* binding)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveBinding(binding) || !streamkit::bindingRegistry().remove(binding))
            return 0;
        dlclose(binding->module);
        binding->tag = 0;
        delete binding;
        return 1;
    });
}

LBR_API uint32_t LbrGetPlugin(PluginBinding* binding, PsrPluginInfo* info, char* nameBuffer)
{
    return tamrin::guarded<uint32_t>(0u, [&]() -> uint32_t {
        if (!liveBinding(binding))
            return 0;
        uint32_t caps = 0;
        if (binding->PsrOpenFile)
            caps |= CapFile;
        if (binding->PsrOpenCD)
            caps |= CapCd;
        if (binding->PsrDecodeFrame)
            caps |= CapDecodeFrame;
        if (binding->PsrDecodeBs)
            caps |= CapDecodeBs;
        if (binding->PsrDecodeAudio)
            caps |= CapDecodeAudio;
        if (binding->PsrSetEnvironment)
            caps |= CapSetEnvironment;

        if (info) {
            std::memset(info, 0, sizeof *info);
            info->mediaFlags = static_cast<uint16_t>((binding->PsrOpenCD ? MediaRawSectors : 0) |
                                                     (binding->PsrOpenFile ? MediaFiles : 0));
            binding->PsrQueryPlugin(info);
        }
        if (nameBuffer) {
            nameBuffer[0] = '\0';
            link_map* map = nullptr;
            if (dlinfo(binding->module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
                const char* slash = std::strrchr(map->l_name, '/');
                const char* base = slash ? slash + 1 : map->l_name;
                const size_t length = std::min(std::strlen(base), size_t(PSR_PATH_MAX - 1));
                std::memcpy(nameBuffer, base, length);
                nameBuffer[length] = '\0';
            }
        }
        return caps;
    });
}

LBR_API uint32_t LbrQueryPlugin(const char* pluginFileName, PsrPluginInfo* info)
{
    return tamrin::guarded<uint32_t>(0u, [&]() -> uint32_t {
        PluginBinding* binding = LbrOpenPSR(pluginFileName);
        if (!binding)
            return 0;
        const uint32_t caps = LbrGetPlugin(binding, info, nullptr) & 0xFFFF;
        LbrClosePSR(binding);
        return caps;
    });
}

LBR_API void* LbrGetPluginInst(PluginBinding* binding)
{
    return tamrin::guarded<void*>(
        nullptr, [&]() -> void* { return liveBinding(binding) ? binding->module : nullptr; });
}

LBR_API int32_t LbrSetEnvironment(PluginBinding* binding, void* window)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveBinding(binding) || !binding->PsrSetEnvironment)
            return 0;
        binding->PsrSetEnvironment(window);
        return 1;
    });
}

LBR_API int32_t LbrIsSupportFile(PluginBinding* binding, const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveBinding(binding) || !binding->PsrIsSupportFile || !fileName)
            return 0;
        return binding->PsrIsSupportFile(fileName);
    });
}

LBR_API void* LbrIsSupportCDBegin(PluginBinding* binding, int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!liveBinding(binding) || !binding->PsrIsSupportCDBegin)
            return nullptr;
        return binding->PsrIsSupportCDBegin(trackCount, tracks);
    });
}

LBR_API int32_t LbrIsSupportCDSector(PluginBinding* binding, void* context, CdTocEntry track, uint32_t lba,
                                     const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveBinding(binding) || !binding->PsrIsSupportCDSector)
            return 0;
        return binding->PsrIsSupportCDSector(context, track, lba, sector);
    });
}

LBR_API int32_t LbrIsSupportCDResult(PluginBinding* binding, void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!liveBinding(binding) || !binding->PsrIsSupportCDResult)
            return -1;
        const int32_t result = binding->PsrIsSupportCDResult(context, index, info);
        if (result > 0 && info)
            streamkit::completeDisplaySize(*info);
        return result;
    });
}

LBR_API void LbrIsSupportCDEnd(PluginBinding* binding, void* context)
{
    tamrin::guardedVoid([&] {
        if (liveBinding(binding) && binding->PsrIsSupportCDEnd)
            binding->PsrIsSupportCDEnd(context);
    });
}

LBR_API int32_t LbrGetStrFileInfo(PluginBinding* binding, const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        // Without a record the plugin would have nothing to fill: refused here rather than in it.
        if (!liveBinding(binding) || !binding->PsrGetStrFileInfo || !fileName || !info)
            return 0;
        if (!binding->PsrGetStrFileInfo(fileName, info))
            return 0;
        streamkit::completeDisplaySize(*info);
        return 1;
    });
}

LBR_API int32_t LbrGetStrDataInfo(PluginBinding* binding, int32_t drive, uint32_t startSector,
                                  uint32_t sectorCount, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveBinding(binding) || !binding->PsrGetStrDataInfo)
            return -1;
        if (!info || !binding->PsrGetStrDataInfo(drive, startSector, sectorCount, info))
            return 0;
        streamkit::completeDisplaySize(*info);
        return 1;
    });
}

LBR_API int32_t LbrGetOutputFrameSize(int32_t* size)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return size ? streamkit::applyDisplaySizeRule(size[0], size[1]) : 0; });
}
