#include "multipart.h"

#include <algorithm>
#include <cctype>

namespace cdaz_exchange {

namespace {

constexpr size_t kMaxPartHead = 4096;
constexpr size_t kMaxBoundary = 70;

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The parameters after the first ';' of a header value: name (lower case) and value, quotes
// removed. Nothing when a quoted value is not closed.
std::optional<std::vector<std::pair<std::string, std::string>>> parameters(std::string_view value)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = value.find(';');
    while (at != std::string_view::npos) {
        std::string_view rest = trim(value.substr(at + 1));
        const size_t eq = rest.find('=');
        if (eq == std::string_view::npos)
            return std::nullopt;
        std::string name = lower(trim(rest.substr(0, eq)));
        rest = trim(rest.substr(eq + 1));
        std::string text;
        size_t used = 0;
        if (!rest.empty() && rest.front() == '"') {
            const size_t close = rest.find('"', 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            text = rest.substr(1, close - 1);
            used = close + 1;
        } else {
            used = std::min(rest.find(';'), rest.size());
            text = trim(rest.substr(0, used));
        }
        out.emplace_back(std::move(name), std::move(text));
        const size_t next = rest.find(';', used);
        if (next == std::string_view::npos)
            break;
        value = rest;
        at = next;
    }
    return out;
}

} // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType)
{
    const std::string_view type = trim(contentType.substr(0, contentType.find(';')));
    if (lower(type) != "multipart/form-data")
        return std::nullopt;
    const auto params = parameters(contentType);
    if (!params)
        return std::nullopt;
    for (const auto& [name, value] : *params)
        if (name == "boundary" && !value.empty() && value.size() <= kMaxBoundary)
            return value;
    return std::nullopt;
}

std::optional<std::vector<FormPart>> parseMultipart(std::string_view body, std::string_view boundary,
                                                    std::string& error, size_t maxParts)
{
    const std::string delimiter = "--" + std::string(boundary);
    // The first delimiter opens the body or follows a preamble line.
    size_t at = 0;
    if (body.substr(0, delimiter.size()) != delimiter) {
        at = body.find("\r\n" + delimiter);
        if (at == std::string_view::npos) {
            error = "no opening boundary";
            return std::nullopt;
        }
        at += 2;
    }
    std::vector<FormPart> parts;
    for (;;) {
        at += delimiter.size();
        if (body.substr(at, 2) == "--")
            return parts; // the closing delimiter; an epilogue after it is ignored
        // Blanks may follow the delimiter on its line.
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t'))
            ++at;
        if (body.substr(at, 2) != "\r\n") {
            error = "bad boundary line";
            return std::nullopt;
        }
        at += 2;
        if (parts.size() == maxParts) {
            error = "too many parts";
            return std::nullopt;
        }
        const size_t headEnd = body.find("\r\n\r\n", at);
        if (headEnd == std::string_view::npos || headEnd - at > kMaxPartHead) {
            error = "bad part head";
            return std::nullopt;
        }
        FormPart part;
        bool disposition = false;
        std::string_view head = body.substr(at, headEnd - at);
        while (!head.empty()) {
            const size_t eol = head.find("\r\n");
            const std::string_view line = head.substr(0, eol);
            head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos) {
                error = "bad part header";
                return std::nullopt;
            }
            const std::string key = lower(trim(line.substr(0, colon)));
            const std::string_view value = trim(line.substr(colon + 1));
            if (key == "content-type") {
                part.contentType = value;
            } else if (key == "content-disposition") {
                const auto params = parameters(value);
                if (disposition || !params || lower(trim(value.substr(0, value.find(';')))) != "form-data") {
                    error = "bad Content-Disposition";
                    return std::nullopt;
                }
                disposition = true;
                bool named = false;
                for (const auto& [name, text] : *params) {
                    if (name == "name" && !named) {
                        part.name = text;
                        named = true;
                    } else if (name == "filename" && !part.fileName) {
                        part.fileName = text;
                    }
                }
                if (!named || part.name.empty()) {
                    error = "part without a name";
                    return std::nullopt;
                }
            }
        }
        if (!disposition) {
            error = "part without Content-Disposition";
            return std::nullopt;
        }
        const size_t contentStart = headEnd + 4;
        const size_t next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string_view::npos) {
            error = "part not closed";
            return std::nullopt;
        }
        part.content = body.substr(contentStart, next - contentStart);
        parts.push_back(std::move(part));
        at = next + 2;
    }
}

} // namespace cdaz_exchange
