// Search and download take a form body whose values are sent as they are (no escaping), so it is
// split here at '&' and the first '=' of each pair rather than decoded. An upload is a multipart
// form; it is stored only when every field is well formed and given once, its check numbers
// agree, and the file is exactly one version-5 CDAZ of a complete analysis, with streams, all of
// them inside the disc its name describes, whose name, title, publisher and counts are the ones
// the form gives.
#include "exchange_routes.h"

#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "cdaz/cdaz_shared_check.h"
#include "exchange/exchange_protocol.h"
#include "multipart.h"

namespace cdaz_exchange {

namespace {

using namespace tamlib::exchange;

using Form = std::map<std::string, std::string, std::less<>>;

Form parseForm(std::string_view body)
{
    Form form;
    while (!body.empty()) {
        const size_t amp = body.find('&');
        const std::string_view pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos)
            form.emplace(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
    }
    return form;
}

// A decimal number without sign or blanks that fits `T`.
template <typename T> std::optional<T> number(std::string_view text)
{
    T value{};
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::string_view> field(const Form& form, std::string_view key)
{
    const auto it = form.find(key);
    return it == form.end() ? std::nullopt : std::optional<std::string_view>(it->second);
}

// A text for one field of a reply line: no control characters (they would split the line).
std::string lineText(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

void answer(HttpResponse& res, int status, const std::string& text)
{
    res.status = status;
    res.contentType = "text/plain";
    res.body = text + "\n";
}

struct RecordDeleter
{
    void operator()(CdazRecord* record) const { tamlib::cdazFree(record); }
};

const char* faultText(tamlib::SharedCdazFault fault)
{
    switch (fault) {
    case tamlib::SharedCdazFault::NotOneFile:
        return "the file is not exactly one version-5 CDAZ";
    case tamlib::SharedCdazFault::Incomplete:
        return "the analysis is not complete";
    case tamlib::SharedCdazFault::NoStreams:
        return "the CDAZ lists no stream";
    case tamlib::SharedCdazFault::OutsideDisc:
        return "a stream lies outside the disc";
    case tamlib::SharedCdazFault::OtherDisc:
    case tamlib::SharedCdazFault::UnknownDisc:
        return "the CDAZ name describes no disc";
    case tamlib::SharedCdazFault::None:
        break;
    }
    return "";
}

// The reason an upload is refused, or empty when `upload` is filled.
std::string checkUpload(const HttpRequest& req, Form& text, std::string& file, Upload& upload)
{
    const auto boundary = multipartBoundary(req.header("Content-Type"));
    if (!boundary)
        return "not a multipart form";
    std::string error;
    const auto parts = parseMultipart(req.body, *boundary, error);
    if (!parts)
        return "malformed multipart form: " + error;
    bool haveFile = false;
    for (const FormPart& part : *parts) {
        if (part.name == "CDAZ_FILE") {
            if (haveFile)
                return "more than one file part";
            haveFile = true;
            if (!part.contentType.empty() && part.contentType != "application/octet-stream")
                return "the file part is not application/octet-stream";
            file = part.content;
            if (!part.fileName || part.fileName->empty())
                return "the file part has no file name";
            text["CDAZ_FILE_NAME"] = *part.fileName;
        } else {
            if (part.content.size() > kMaxFormBytes)
                return "field too long: " + part.name;
            if (part.name == "CDAZ_FILE_NAME" || !text.emplace(part.name, part.content).second)
                return "field given twice: " + part.name;
        }
    }
    static constexpr const char* kRequired[] = {
        "CDAZ_NAME",  "LANGUAGE",       "TAMRIN_VERSION",  "CDAZ_VERSION",       "CD_TITLE",  "NUM_PLUGIN",
        "NUM_STREAM", "EFF_NUM_STREAM", "ANALYZE_VERSION", "SUM_PLUGIN_VERSION", "PUBLISHER", "SEC_CODE1",
        "SEC_CODE2",  "SEC_CODE3",      "SEC_CODE4",       "CDAZ_FILE_NAME"};
    for (const char* key : kRequired)
        if (!text.count(key))
            return std::string("missing field ") + key;
    upload.name = text["CDAZ_NAME"];
    upload.language = text["LANGUAGE"];
    if (!validName(upload.name))
        return "bad CDAZ name";
    if (text["CDAZ_FILE_NAME"] != upload.name)
        return "the file name is not the CDAZ name";
    if (!validLanguage(upload.language))
        return "bad language";
    if (number<int32_t>(text["TAMRIN_VERSION"]) != kClientVersion ||
        number<int32_t>(text["CDAZ_VERSION"]) != kCdazFormat)
        return "unknown client or CDAZ version";
    if (text["CD_TITLE"].size() > tamlib::exchange::kTitleMax - 1 ||
        text["PUBLISHER"].size() > tamlib::exchange::kPublisherMax - 1)
        return "title or publisher too long";
    const auto plugins = number<uint32_t>(text["NUM_PLUGIN"]);
    const auto streams = number<uint32_t>(text["NUM_STREAM"]);
    const auto effective = number<uint32_t>(text["EFF_NUM_STREAM"]);
    const auto analyze = number<uint32_t>(text["ANALYZE_VERSION"]);
    const auto sum = number<uint32_t>(text["SUM_PLUGIN_VERSION"]);
    if (!plugins || !streams || !effective || !analyze || !sum || *effective > *streams)
        return "bad counts";
    const CheckNumbers expected = checkNumbers(*sum, upload.name.size(), *analyze, *streams, *effective);
    for (size_t i = 0; i < 4; ++i) {
        const auto code = number<int64_t>(text["SEC_CODE" + std::to_string(i + 1)]);
        if (!code || *code != expected.code[i])
            return "check numbers do not agree";
    }
    if (file.empty() || file.size() > kMaxCdazBytes)
        return "no CDAZ file or one too large";
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    tamlib::SharedCdazFault fault = tamlib::SharedCdazFault::None;
    std::unique_ptr<CdazRecord, RecordDeleter> record(tamlib::readSharedCdaz({bytes, file.size()}, &fault));
    if (!record)
        return faultText(fault);
    uint32_t fileSum = 0;
    for (uint16_t i = 0; i < record->pluginCount; ++i)
        fileSum += record->plugins[i].version;
    if (upload.name != record->name || record->pluginCount != *plugins ||
        uint32_t(std::max(record->streamCount, 0)) != *streams || record->analyzeVersion != *analyze ||
        fileSum != *sum || text["CD_TITLE"] != record->title || text["PUBLISHER"] != record->publisherId)
        return "the form does not describe the file";
    upload.title = lineText(text["CD_TITLE"]);
    upload.publisher = lineText(text["PUBLISHER"]);
    upload.analyzeVersion = *analyze;
    upload.pluginVersionSum = *sum;
    upload.pluginCount = *plugins;
    upload.streamCount = *streams;
    upload.effectiveStreams = *effective;
    upload.file = {bytes, file.size()};
    return {};
}

template <typename Handler> auto guarded(Handler handler)
{
    return [handler](const HttpRequest& req, HttpResponse& res) {
        try {
            handler(req, res);
        } catch (...) {
            answer(res, 500, "internal error");
        }
    };
}

} // namespace

void installRoutes(HttpServer& server, Store& store)
{
    server.route("POST", kSearchPath, guarded([&store](const HttpRequest& req, HttpResponse& res) {
                    if (req.body.size() > kMaxFormBytes)
                        return answer(res, 413, "form too large");
                    const Form form = parseForm(req.body);
                    const auto name = field(form, "CDAZ_NAME");
                    if (!name || !validName(*name))
                        return answer(res, 400, "bad CDAZ name");
                    res.status = 200;
                    res.contentType = "text/plain";
                    res.body = store.search(*name);
                }),
                 kMaxFormBytes);
    server.route("POST", kDownloadPath, guarded([&store](const HttpRequest& req, HttpResponse& res) {
                    if (req.body.size() > kMaxFormBytes)
                        return answer(res, 413, "form too large");
                    const Form form = parseForm(req.body);
                    const auto name = field(form, "CDAZ_NAME");
                    const auto language = field(form, "LANGUAGE");
                    const auto revision = field(form, "CDAZ_VERSION");
                    const auto wanted = revision ? number<uint32_t>(*revision) : std::nullopt;
                    if (!name || !language || !wanted)
                        return answer(res, 400, "missing or bad fields");
                    auto bytes = store.file(*name, *language, *wanted);
                    if (!bytes)
                        return answer(res, 404, "no such CDAZ");
                    res.status = 200;
                    res.contentType = "application/octet-stream";
                    res.body.assign(bytes->begin(), bytes->end());
                }),
                 kMaxFormBytes);
    server.route("POST", kUploadPath, guarded([&store](const HttpRequest& req, HttpResponse& res) {
                    Form text;
                    std::string file;
                    Upload upload;
                    const std::string refused = checkUpload(req, text, file, upload);
                    if (!refused.empty())
                        return answer(res, refused.find("check numbers") != std::string::npos ? 403 : 400,
                                      "refused: " + refused);
                    const auto revision = store.add(upload);
                    if (!revision)
                        return answer(res, 507, "cannot store");
                    answer(res, 200, "stored revision " + std::to_string(*revision));
                }));
}

} // namespace cdaz_exchange
