// The exported exchange calls, Base64 and the comparison of a local CDAZ with a server's.
#include "tamlib/exchange.h"

#include <cstring>

#include "cdaz/cdaz_record.h"
#include "exchange/exchange_client.h"
#include "tamrin_common/c_guard.h"

using namespace tamlib;

PLB_API int32_t PlbSearchCDAZ(const char* name, CdazSearchRecord* records)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        const exchange::Endpoint endpoint = exchange::configuredEndpoint();
        if (endpoint.address.empty())
            return 0;
        return exchange::search(endpoint, name, exchange::languageCode().c_str(), records);
    });
}

PLB_API CdazRecord* PlbDownloadCDAZ(int32_t revision, const char* language, const char* name)
{
    return tamrin::guarded<CdazRecord*>(nullptr, [&]() -> CdazRecord* {
        const exchange::Endpoint endpoint = exchange::configuredEndpoint();
        if (endpoint.address.empty())
            return nullptr;
        return exchange::download(endpoint, revision, language, name);
    });
}

PLB_API int32_t PlbUploadCDAZ(const char* folder, const char* fileName, CdazRecord* record)
{
    tamrin::guardedVoid([&] {
        const exchange::Endpoint endpoint = exchange::configuredEndpoint();
        if (!endpoint.address.empty())
            exchange::upload(endpoint, folder, fileName, record, exchange::languageCode().c_str());
    });
    return 0;
}

PLB_API PlbBase64Result PlbEncodeBase64(const void* data, int32_t length, int32_t capacity, char* output)
{
    return tamrin::guarded<PlbBase64Result>(PlbBase64Result{0, 0}, [&]() -> PlbBase64Result {
        static constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        if (length < 0 || (length > 0 && !data))
            return {0, 0};
        const int64_t needed = (int64_t(length) + 2) / 3 * 4;
        if (needed >= int64_t(capacity) || !output)
            return {0, int32_t(needed)};
        const auto* in = static_cast<const uint8_t*>(data);
        char* out = output;
        int32_t i = 0;
        for (; i + 3 <= length; i += 3) {
            const uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
            *out++ = kAlphabet[v >> 18];
            *out++ = kAlphabet[(v >> 12) & 63];
            *out++ = kAlphabet[(v >> 6) & 63];
            *out++ = kAlphabet[v & 63];
        }
        if (const int32_t rest = length - i) {
            const uint32_t v = uint32_t(in[i]) << 16 | (rest > 1 ? uint32_t(in[i + 1]) << 8 : 0u);
            *out++ = kAlphabet[v >> 18];
            *out++ = kAlphabet[(v >> 12) & 63];
            *out++ = rest > 1 ? kAlphabet[(v >> 6) & 63] : '=';
            *out++ = '=';
        }
        *out = '\0';
        return {1, out == output ? 0 : int32_t(static_cast<unsigned char>(out[-1]))};
    });
}

PLB_API int32_t PlbCompareCDAZ(CdazRecord* local, const CdazSearchRecord* server, int32_t tie)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!local)
            return 0;
        if (!server)
            return 1;
        cdazNormalizeIfDirty(*local);
        uint32_t sum = 0;
        for (uint16_t i = 0; i < local->pluginCount; ++i)
            sum += local->plugins[i].version;
        const auto unsignedOf = [](int32_t v) { return v > 0 ? uint32_t(v) : 0u; };
        const uint32_t mine[5] = {local->analyzeVersion, local->pluginCount, sum,
                                  unsignedOf(local->effectiveStreams), unsignedOf(local->streamCount)};
        const uint32_t theirs[5] = {server->analyzeVersion, server->pluginCount, server->pluginVersionSum,
                                    server->effectiveStreams, server->streamCount};
        for (size_t i = 0; i < 5; ++i)
            if (mine[i] != theirs[i])
                return mine[i] > theirs[i] ? 1 : 0;
        return tie;
    });
}
