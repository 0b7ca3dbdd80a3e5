// multipart/form-data bodies, read whole: the parts of a body held in memory, so that how the body
// arrived in pieces does not matter.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cdaz_exchange {

struct FormPart
{
    std::string name;
    std::optional<std::string> fileName;
    std::string contentType;
    std::string_view content; // inside the body given to parseMultipart
};

// The boundary parameter of a "multipart/form-data" Content-Type; nothing for another type.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The parts of `body`, or nothing with `error` set when it is not a complete multipart body with
// that boundary (or has more than `maxParts` parts).
std::optional<std::vector<FormPart>> parseMultipart(std::string_view body, std::string_view boundary,
                                                    std::string& error, size_t maxParts = 64);

} // namespace cdaz_exchange
