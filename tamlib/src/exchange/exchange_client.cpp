// Search, download and upload against the exchange server.
#include "exchange/exchange_client.h"
#include "tamrin_common/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_record.h"
#include "exchange/exchange_protocol.h"
#include "exchange/http_post.h"
#include "installed_plugins.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"

namespace tamlib::exchange {

namespace {

constexpr uint32_t kLanguageStringId = 10037;
constexpr size_t kUploadPiece = 2048;
constexpr const char* kAccept = "Accept: text/*; q=0.2, text/plain";
constexpr const char* kFormType = "Content-Type: application/x-www-form-urlencoded";

std::span<const uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

uint32_t pluginVersionSum(const CdazRecord& record)
{
    uint32_t sum = 0;
    for (uint16_t i = 0; i < record.pluginCount; ++i)
        sum += record.plugins[i].version;
    return sum;
}

// Reads the whole file when it is a regular file of at most kMaxCdazBytes.
bool readUploadFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              uint64_t(info.st_size) <= kMaxCdazBytes;
    if (ok) {
        bytes.resize(size_t(info.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += size_t(got);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}

void appendText(std::vector<uint8_t>& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendField(std::vector<uint8_t>& out, const std::string& boundary, const char* field,
                 std::string_view value)
{
    appendText(out, "--" + boundary + "\r\n");
    appendText(out, std::string("Content-Disposition: form-data; name=\"") + field + "\"\r\n\r\n");
    appendText(out, value);
    appendText(out, "\r\n");
}

} // namespace

uint32_t tickCount()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

Endpoint configuredEndpoint()
{
    Endpoint endpoint;
    const int32_t length = PlbGetServer(nullptr, 0);
    if (length > 0) {
        std::string address(size_t(length) + 1, '\0');
        PlbGetServer(address.data(), int32_t(address.size()));
        address.resize(std::strlen(address.c_str()));
        endpoint.address = address;
    }
    return endpoint;
}

std::string languageCode()
{
    char text[PLB_STRING_MAX];
    return PlbLoadString(nullptr, text, kLanguageStringId);
}

std::string searchBody(const char* name, const char* language)
{
    return std::string("CDAZ_NAME=") + name + "&LANGUAGE=" + language +
           "&TAMRIN_VERSION=" + std::to_string(kClientVersion) +
           "&CDAZ_VERSION=" + std::to_string(kCdazFormat);
}

std::string downloadBody(const char* name, const char* language, int32_t revision)
{
    return std::string("CDAZ_NAME=") + name + "&LANGUAGE=" + language +
           "&CDAZ_VERSION=" + std::to_string(revision);
}

int32_t search(const Endpoint& endpoint, const char* name, const char* language, CdazSearchRecord* records)
{
    if (endpoint.address.empty() || !name || !language || !records)
        return 0;
    try {
        const std::string body = searchBody(name, language);
        std::vector<uint8_t> reply;
        PostRequest request;
        request.path = kSearchPath;
        request.headers = {kAccept, kFormType};
        request.body = bytesOf(body);
        request.replyLimit = kMaxSearchReplyBytes;
        request.sink = [&reply](long, const uint8_t* data, size_t size) {
            reply.insert(reply.end(), data, data + size);
            return true;
        };
        if (!httpPost(endpoint, request).complete)
            return 0;
        return int32_t(parseSearchReply(reply, records, kMaxRecords));
    } catch (...) {
        return 0;
    }
}

CdazRecord* download(const Endpoint& endpoint, int32_t revision, const char* language, const char* name,
                     DownloadCheck* check)
{
    if (endpoint.address.empty() || !name || !language)
        return nullptr;
    try {
        const std::string body = downloadBody(name, language, revision);
        std::vector<uint8_t> received;
        PostRequest request;
        request.path = kDownloadPath;
        request.headers = {kFormType};
        request.body = bytesOf(body);
        request.replyLimit = kMaxCdazBytes;
        request.sink = [&](long status, const uint8_t* data, size_t size) {
            if (status != 200)
                return false;
            received.insert(received.end(), data, data + size);
            return true;
        };
        const PostResult result = httpPost(endpoint, request);
        if (!result.complete || result.status != 200 || received.empty())
            return nullptr;
        // A file with bytes after its end, or that the strict reading refuses, is not taken.
        if (CdazRecord* whole = cdazReadV5(received, true))
            cdazFree(whole);
        else {
            if (check)
                check->fault = SharedCdazFault::NotOneFile;
            return nullptr;
        }
        // Loaded as a file from outside the analysis folder is: the post-load check against the
        // installed plugins. The download never touches the disc, so a program stopped in the
        // middle of one leaves nothing behind.
        uint32_t status = 0;
        CdazRecord* record = cdazLoadV5(received, installedPlugins(), PLB_CDAZ_LOAD_OTHER_FOLDER, &status);
        if (!record || !check)
            return record;
        check->fault = !check->discName || std::strcmp(record->name, check->discName) != 0
                           ? SharedCdazFault::OtherDisc
                           : checkSharedRecord(*record, discEndOf(check->tracks));
        if (check->fault != SharedCdazFault::None) {
            PlbFreeCDAZ(record);
            return nullptr;
        }
        return record;
    } catch (...) {
        return nullptr;
    }
}

UploadRequest buildUpload(const CdazRecord& record, const char* language, std::span<const uint8_t> file,
                          uint32_t tick, uint32_t unique)
{
    UploadRequest upload;
    for (;; ++unique) {
        char boundary[48];
        std::snprintf(boundary, sizeof boundary, "---------------------------%06x%08x", tick & 0xFFFFFFu,
                      unique);
        upload.boundary = boundary;
        const std::string_view content(reinterpret_cast<const char*>(file.data()), file.size());
        if (content.find(upload.boundary) == std::string_view::npos)
            break;
    }
    const uint32_t sum = pluginVersionSum(record);
    const uint32_t streams = record.streamCount > 0 ? uint32_t(record.streamCount) : 0;
    const uint32_t effective = record.effectiveStreams > 0 ? uint32_t(record.effectiveStreams) : 0;
    const CheckNumbers check =
        checkNumbers(sum, std::strlen(record.name), record.analyzeVersion, streams, effective);

    std::vector<uint8_t>& out = upload.bytes;
    const std::string& b = upload.boundary;
    appendField(out, b, "CDAZ_NAME", record.name);
    appendField(out, b, "LANGUAGE", language);
    appendField(out, b, "TAMRIN_VERSION", std::to_string(kClientVersion));
    appendField(out, b, "CDAZ_VERSION", std::to_string(kCdazFormat));
    appendField(out, b, "CD_TITLE", record.title);
    appendField(out, b, "NUM_PLUGIN", std::to_string(record.pluginCount));
    appendField(out, b, "NUM_STREAM", std::to_string(record.streamCount));
    appendField(out, b, "EFF_NUM_STREAM", std::to_string(record.effectiveStreams));
    appendField(out, b, "ANALYZE_VERSION", std::to_string(record.analyzeVersion));
    appendField(out, b, "SUM_PLUGIN_VERSION", std::to_string(sum));
    appendField(out, b, "PUBLISHER", record.publisherId);
    const char* codes[4] = {"SEC_CODE1", "SEC_CODE2", "SEC_CODE3", "SEC_CODE4"};
    for (size_t i = 0; i < 4; ++i)
        appendField(out, b, codes[i], std::to_string(check.code[i]));
    appendText(out, "--" + b + "\r\n");
    appendText(out, std::string("Content-Disposition: form-data; name=\"CDAZ_FILE\"; filename=\"") +
                        record.name + "\"\r\n");
    appendText(out, "Content-Type: application/octet-stream\r\n\r\n");
    upload.headBytes = out.size();
    out.insert(out.end(), file.begin(), file.end());
    const std::string tail = "\r\n--" + b + "--\r\n";
    appendText(out, tail);
    upload.tailBytes = tail.size();
    return upload;
}

bool upload(const Endpoint& endpoint, const char* folder, const char* fileName, CdazRecord* record,
            const char* language)
{
    if (endpoint.address.empty() || !record || !language)
        return false;
    try {
        cdazNormalizeIfDirty(*record);
        const char* name = fileName && *fileName ? fileName : record->name;
        if (!*name)
            return false;
        const std::filesystem::path base = folder ? std::filesystem::path(folder) : analyzeFolder();
        std::vector<uint8_t> file;
        if (!readUploadFile(base / name, file))
            return false;
        static std::atomic<uint32_t> calls{0};
        const uint32_t unique = (uint32_t(::getpid()) << 16) ^ calls.fetch_add(1);
        const UploadRequest built = buildUpload(*record, language, file, tickCount(), unique);
        PostRequest request;
        request.path = kUploadPath;
        request.headers = {kAccept, "Accept-Language: ja", "Accept-Encoding: gzip, deflate",
                           "Content-Type: multipart/form-data; boundary=" + built.boundary, "Expect:"};
        request.body = built.bytes;
        request.piece = kUploadPiece;
        request.replyLimit = kMaxSearchReplyBytes;
        return httpPost(endpoint, request).status != 0;
    } catch (...) {
        return false;
    }
}

} // namespace tamlib::exchange
