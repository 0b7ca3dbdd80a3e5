// cdaz edit: the changes a user makes in the editor (disc texts, stream names, hidden streams,
// plugins switched off and their priority), checked against the record first, then made and
// saved through the library, which replaces the file only when the new one is written whole.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <set>

#include "cdaz_file.h"
#include "commands.h"
#include "library_session.h"

namespace tamrin::cli {

namespace {

constexpr const char* kSubject = "cdaz edit";

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The plugin entries a name stands for: a number from 1, or a file name in any case (every entry
// of that file, whatever its version). Empty when none.
std::vector<int32_t> pluginEntries(const CdazContents& contents, const std::string& name)
{
    std::vector<int32_t> entries;
    uint32_t number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (!name.empty() && error == std::errc() && end == name.data() + name.size()) {
        if (number >= 1 && number <= contents.plugins.size())
            entries.push_back(int32_t(number - 1));
        return entries;
    }
    for (size_t i = 0; i < contents.plugins.size(); ++i)
        if (sameIgnoringCase(contents.plugins[i].file, name))
            entries.push_back(int32_t(i));
    return entries;
}

std::vector<std::string> splitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t begin = 0;
    while (true) {
        const size_t comma = text.find(',', begin);
        parts.push_back(text.substr(begin, comma == std::string::npos ? comma : comma - begin));
        if (comma == std::string::npos)
            return parts;
        begin = comma + 1;
    }
}

// The edits in the library's terms, every index checked.
struct Edits
{
    std::vector<std::pair<int32_t, std::string>> names; // stream index, name
    std::vector<std::pair<int32_t, bool>> hidden;       // stream index, hidden
    std::vector<std::pair<int32_t, bool>> pluginsOff;   // plugin index, off
    std::vector<int32_t> positions;                     // new place of every plugin entry; empty: none
};

std::optional<std::string> resolve(const CdazOptions& options, const CdazContents& contents, Edits& edits)
{
    const uint32_t streams = uint32_t(contents.streams.size());
    const auto streamProblem = [&](uint32_t number) -> std::optional<std::string> {
        if (number >= 1 && number <= streams)
            return std::nullopt;
        return "there is no stream " + std::to_string(number) + " (the CDAZ has " + std::to_string(streams) +
               ")";
    };
    for (size_t i = 0; i < options.nameStreams.size(); ++i) {
        if (auto problem = streamProblem(options.nameStreams[i]))
            return problem;
        edits.names.emplace_back(int32_t(options.nameStreams[i] - 1), options.names[i]);
    }
    for (uint32_t number : options.hide) {
        if (auto problem = streamProblem(number))
            return problem;
        edits.hidden.emplace_back(int32_t(number - 1), true);
    }
    for (uint32_t number : options.show) {
        if (auto problem = streamProblem(number))
            return problem;
        edits.hidden.emplace_back(int32_t(number - 1), false);
    }

    std::set<int32_t> off, on;
    for (const auto& [names, value, set] :
         {std::tuple{&options.pluginsOff, true, &off}, std::tuple{&options.pluginsOn, false, &on}}) {
        for (const std::string& name : *names) {
            const std::vector<int32_t> entries = pluginEntries(contents, name);
            if (entries.empty())
                return "the CDAZ has no plugin '" + name + "'";
            for (int32_t entry : entries) {
                set->insert(entry);
                edits.pluginsOff.emplace_back(entry, value);
            }
        }
    }
    for (int32_t entry : off)
        if (on.contains(entry))
            return "plugin " + contents.plugins[size_t(entry)].file + " is switched both off and on";

    if (options.pluginOrder) {
        std::vector<int32_t> order; // entries, highest priority first
        for (const std::string& name : splitCommas(*options.pluginOrder)) {
            const std::vector<int32_t> entries = pluginEntries(contents, name);
            if (entries.empty())
                return "--plugin-order: the CDAZ has no plugin '" + name + "'";
            for (int32_t entry : entries) {
                if (std::find(order.begin(), order.end(), entry) != order.end())
                    return "--plugin-order: " + contents.plugins[size_t(entry)].file + " is named twice";
                order.push_back(entry);
            }
        }
        for (int32_t entry = 0; entry < int32_t(contents.plugins.size()); ++entry)
            if (std::find(order.begin(), order.end(), entry) == order.end())
                order.push_back(entry);
        edits.positions.assign(order.size(), 0);
        for (size_t place = 0; place < order.size(); ++place)
            edits.positions[size_t(order[place])] = int32_t(place);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> cdazEditUsageProblem(const CdazOptions& options)
{
    if (options.nameStreams.size() != options.names.size())
        return "every --stream needs one --name after it, and every --name a --stream";
    if (!options.title && !options.prefix && options.nameStreams.empty() && options.hide.empty() &&
        options.show.empty() && options.pluginsOff.empty() && options.pluginsOn.empty() &&
        !options.pluginOrder)
        return "nothing to change (--title, --prefix, --stream with --name, --hide, --show, --plugin-off, "
               "--plugin-on, --plugin-order)";
    if (options.title && options.title->size() >= PLB_CDAZ_TITLE_BYTES)
        return "--title: at most " + std::to_string(PLB_CDAZ_TITLE_BYTES - 1) + " bytes";
    if (options.prefix && options.prefix->size() >= PLB_CDAZ_PREFIX_BYTES)
        return "--prefix: at most " + std::to_string(PLB_CDAZ_PREFIX_BYTES - 1) + " bytes";
    for (const std::string& name : options.names)
        if (name.size() >= PLB_CDAZ_STREAM_NAME_BYTES)
            return "--name: at most " + std::to_string(PLB_CDAZ_STREAM_NAME_BYTES - 1) + " bytes";
    for (uint32_t number : options.hide)
        if (std::find(options.show.begin(), options.show.end(), number) != options.show.end())
            return "stream " + std::to_string(number) + " is both hidden and shown";
    return std::nullopt;
}

int runCdazEdit(const CdazOptions& options)
{
    if (!libraryReady(kSubject))
        return kExitFailure;
    const CdazLocation location = locateCdaz(options.file);
    const auto loaded = loadCdaz(location, kSubject);
    if (!loaded)
        return kExitFailure;
    CdazRecord* record = loaded->record.get();
    const CdazContents contents = readCdazContents(record);
    Edits edits;
    if (const auto problem = resolve(options, contents, edits)) {
        reportError(kSubject, location.path.string() + ": " + *problem + "; nothing was changed");
        return kExitUsage;
    }

    // Streams first, by the indices checked above: the plugin changes make the library sort the
    // streams again at the next read.
    bool done = true;
    for (const auto& [index, name] : edits.names)
        done = done && PlbSetCDAZStream(record, index, nullptr, name.c_str(), 0, 0) != 0;
    for (const auto& [index, hidden] : edits.hidden)
        done = done && PlbSetCDAZStream(record, index, nullptr, nullptr, PLB_CDAZ_STREAM_USER_HIDDEN,
                                        hidden ? PLB_CDAZ_STREAM_USER_HIDDEN : 0) != 0;
    for (const auto& [index, off] : edits.pluginsOff)
        done = done &&
               PlbSetCDAZPluginFlags(record, index, PLB_CDAZ_PLUGIN_OFF, off ? PLB_CDAZ_PLUGIN_OFF : 0) >= 0;
    if (!edits.positions.empty())
        done = done &&
               PlbSetCDAZPluginPriAll(record, int32_t(edits.positions.size()), edits.positions.data()) != 0;
    if (options.title || options.prefix)
        done = done && PlbSetCDAZInfo(record, options.title ? options.title->c_str() : nullptr,
                                      options.prefix ? options.prefix->c_str() : nullptr, 0, 0) != 0;
    if (!done) {
        reportError(kSubject, location.path.string() + ": the library refused a change; nothing was saved");
        return kExitFailure;
    }
    if (PlbSaveCDAZ(location.folder.empty() ? nullptr : location.folder.c_str(), location.fileName.c_str(),
                    record) == 0) {
        reportError(kSubject, location.path.string() + ": cannot be written (" + saveFailureReason() +
                                  "); the file is left as it was");
        return kExitFailure;
    }
    std::cout << location.path.string() << ": saved\n";
    return kExitOk;
}

} // namespace tamrin::cli
