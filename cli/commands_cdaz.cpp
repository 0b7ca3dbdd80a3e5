// cdaz list, show, copy and delete: the CDAZ files of the analyze folder and any other, through
// the library's store operations.
//
// cdaz list --json: an array in file name order, one object per file:
//   {"file", "title", "streamCount", "effectiveStreams", "validStreams", "pluginCount", "anaSector"}
//   or {"file", "error"} for a file that cannot be loaded (the exit status is then 1).
//
// cdaz show --json:
//   {"file", "name", "title", "prefix", "systemId", "volumeId", "publisherId", "cdazFlags",
//    "cdazFlagWords", "anaSector", "complete", "version", "analyzeVersion", "loadStatus",
//    "loadStatusWords", "streamCount", "effectiveStreams", "validStreams", "pluginCount",
//    "plugins": [{"number" (from 1, the priority), "fileName", "name" (of the installed plugin,
//                 "" when not installed), "installed", "version", "pluginFlags",
//                 "pluginFlagWords", "author", "address"}, ...],
//    "streams": [{"number" (from 1), "kind", "kindWords", "startSector", "sectorCount",
//                 "durationMs", "dataBytes", "streamFlags", "streamFlagWords", "plugin" (its
//                 number), "pluginFile", "name", "defaultTitle", "info": StrInfo}, ...]}
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <system_error>

#include "cdaz_file.h"
#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "library_session.h"
#include "output.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> analyzeFolderFiles()
{
    std::vector<std::string> names;
    char name[PLB_CDAZ_NAME_BYTES];
    for (CdazSearch* search = PlbFindCDAZ(nullptr, name); search; search = PlbFindCDAZ(search, name))
        names.emplace_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string anaSectorText(int32_t anaSector)
{
    return anaSector == -1 ? "-1 (analysed to the end)"
                           : std::to_string(anaSector) + " (the analysis stopped there)";
}

// "m:ss.mmm"
std::string durationText(uint32_t milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", milliseconds / 60000u, milliseconds / 1000u % 60u,
                  milliseconds % 1000u);
    return text;
}

void field(std::ostream& out, const char* name, const std::string& value)
{
    char label[24];
    std::snprintf(label, sizeof label, "%-17s", name);
    out << label << value << '\n';
}

std::string pluginFileOf(const CdazContents& contents, int32_t index)
{
    return index >= 0 && size_t(index) < contents.plugins.size() ? contents.plugins[size_t(index)].file
                                                                 : std::string("?");
}

void printShowText(std::ostream& out, const CdazLocation& location, const LoadedCdaz& loaded,
                   const CdazContents& contents, const tamlib::CdazIdentity& identity)
{
    field(out, "file", location.path.string());
    field(out, "name", contents.name);
    field(out, "title", quoted(contents.title));
    field(out, "prefix", quoted(contents.prefix));
    field(out, "systemId", quoted(identity.systemId));
    field(out, "volumeId", quoted(identity.volumeId));
    field(out, "publisherId", quoted(identity.publisherId));
    field(out, "cdazFlags",
          hexText(uint32_t(contents.flags), 2) + " (" + cdazFlagWords(contents.flags) + ")");
    field(out, "anaSector", anaSectorText(contents.anaSector));
    field(out, "version", std::to_string(identity.version));
    field(out, "analyzeVersion", std::to_string(identity.analyzeVersion));
    field(out, "loadStatus", hexText(loaded.status, 8) + " (" + loadStatusWords(loaded.status) + ")");
    field(out, "streams",
          std::to_string(contents.streams.size()) + " (" + std::to_string(contents.effectiveStreams) +
              " effective, " + std::to_string(contents.validStreams) + " valid)");
    field(out, "plugins", std::to_string(contents.plugins.size()));
    int number = 1;
    for (const CdazPluginView& plugin : contents.plugins) {
        char line[160];
        std::snprintf(line, sizeof line, "  %2d  %-16s  version %-6s  flags 0x%02X (%s)  ", number++,
                      plugin.file.c_str(), versionText(plugin.version).c_str(), unsigned(plugin.flags),
                      pluginFlagWords(plugin.flags).c_str());
        out << line << (plugin.name.empty() ? "(not installed)" : plugin.name);
        if (!plugin.author.empty() || !plugin.address.empty())
            out << "  " << plugin.author << (plugin.address.empty() ? "" : " <" + plugin.address + ">");
        out << '\n';
    }
    if (contents.streams.empty())
        return;
    out << "   #  kind                start  sectors     duration     dataBytes  flags               plugin"
           "                 name\n";
    number = 1;
    for (const CdazStreamView& stream : contents.streams) {
        char line[256];
        std::snprintf(line, sizeof line, "%4d  %-16s %9u %8u %12s %13u  %-18s  %2d %-16s  ", number++,
                      kindWords(stream.info.kind).c_str(), stream.info.startSector, stream.info.sectorCount,
                      durationText(stream.info.durationMs).c_str(), stream.info.dataBytes,
                      streamFlagWords(stream.flags).c_str(), stream.pluginIndex + 1,
                      pluginFileOf(contents, stream.pluginIndex).c_str());
        out << line << stream.name << (stream.ownName ? "" : " (default title)") << '\n';
    }
}

Json showJson(const CdazLocation& location, const LoadedCdaz& loaded, const CdazContents& contents,
              const tamlib::CdazIdentity& identity)
{
    Json document;
    document["file"] = location.path.string();
    document["name"] = contents.name;
    document["title"] = contents.title;
    document["prefix"] = contents.prefix;
    document["systemId"] = identity.systemId;
    document["volumeId"] = identity.volumeId;
    document["publisherId"] = identity.publisherId;
    document["cdazFlags"] = contents.flags;
    document["cdazFlagWords"] = cdazFlagWords(contents.flags);
    document["anaSector"] = contents.anaSector;
    document["complete"] = contents.anaSector == -1;
    document["version"] = identity.version;
    document["analyzeVersion"] = identity.analyzeVersion;
    document["loadStatus"] = loaded.status;
    document["loadStatusWords"] = loadStatusWords(loaded.status);
    document["streamCount"] = contents.streams.size();
    document["effectiveStreams"] = contents.effectiveStreams;
    document["validStreams"] = contents.validStreams;
    document["pluginCount"] = contents.plugins.size();

    Json plugins = Json::array();
    int number = 1;
    for (const CdazPluginView& plugin : contents.plugins) {
        Json object;
        object["number"] = number++;
        object["fileName"] = plugin.file;
        object["name"] = plugin.name;
        object["installed"] = !plugin.name.empty();
        object["version"] = plugin.version;
        object["pluginFlags"] = plugin.flags;
        object["pluginFlagWords"] = pluginFlagWords(plugin.flags);
        object["author"] = plugin.author;
        object["address"] = plugin.address;
        plugins.push_back(object);
    }
    document["plugins"] = plugins;

    Json streams = Json::array();
    number = 1;
    for (const CdazStreamView& stream : contents.streams) {
        Json object;
        object["number"] = number++;
        object["kind"] = stream.info.kind;
        object["kindWords"] = kindWords(stream.info.kind);
        object["startSector"] = stream.info.startSector;
        object["sectorCount"] = stream.info.sectorCount;
        object["durationMs"] = stream.info.durationMs;
        object["dataBytes"] = stream.info.dataBytes;
        object["streamFlags"] = stream.flags;
        object["streamFlagWords"] = streamFlagWords(stream.flags);
        object["plugin"] = stream.pluginIndex + 1;
        object["pluginFile"] = pluginFileOf(contents, stream.pluginIndex);
        object["name"] = stream.name;
        object["defaultTitle"] = !stream.ownName;
        object["info"] = strInfoJson(stream.info);
        streams.push_back(object);
    }
    document["streams"] = streams;
    return document;
}

bool endsWithCdaz(const std::string& name)
{
    if (name.size() < 5)
        return false;
    std::string end = name.substr(name.size() - 5);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return end == ".cdaz";
}

} // namespace

int runCdazList(const CdazOptions& options)
{
    const char* subject = "cdaz list";
    if (!libraryReady(subject))
        return kExitFailure;
    const std::vector<std::string> names = analyzeFolderFiles();
    int status = kExitOk;
    Json list = Json::array();
    for (const std::string& name : names) {
        CdazLocation location;
        location.fileName = name;
        location.path = analyzeFolderPath() / name;
        std::string why;
        const auto loaded = loadCdaz(location, subject, &why, CdazUse::Inspect);
        if (!loaded) {
            status = kExitFailure;
            if (options.json)
                list.push_back({{"file", name}, {"error", why}});
            continue;
        }
        const CdazContents contents = readCdazContents(loaded->record.get());
        if (options.json) {
            Json object;
            object["file"] = name;
            object["title"] = contents.title;
            object["streamCount"] = contents.streams.size();
            object["effectiveStreams"] = contents.effectiveStreams;
            object["validStreams"] = contents.validStreams;
            object["pluginCount"] = contents.plugins.size();
            object["anaSector"] = contents.anaSector;
            list.push_back(object);
        } else {
            std::cout << name << "  " << quoted(contents.title) << "  "
                      << counted(contents.streams.size(), "stream", "streams") << " ("
                      << contents.validStreams << " valid)"
                      << (contents.anaSector == -1 ? "" : ", analysis incomplete") << '\n';
        }
    }
    if (options.json)
        writeJson(std::cout, list);
    else if (names.empty())
        std::cout << "no CDAZ files in " << analyzeFolderPath().string() << '\n';
    return status;
}

int runCdazShow(const CdazOptions& options)
{
    const char* subject = "cdaz show";
    if (!libraryReady(subject))
        return kExitFailure;
    const CdazLocation location = locateCdaz(options.file);
    const auto loaded = loadCdaz(location, subject, nullptr, CdazUse::Inspect);
    if (!loaded)
        return kExitFailure;
    const CdazContents contents = readCdazContents(loaded->record.get());
    tamlib::CdazIdentity identity;
    tamlib::cdazIdentity(loaded->record.get(), identity);
    if (options.json)
        writeJson(std::cout, showJson(location, *loaded, contents, identity));
    else
        printShowText(std::cout, location, *loaded, contents, identity);
    return kExitOk;
}

int runCdazCopy(const CdazOptions& options)
{
    const char* subject = "cdaz copy";
    if (!libraryReady(subject))
        return kExitFailure;
    const CdazLocation source = locateCdaz(options.file);
    const auto loaded = loadCdaz(source, subject, nullptr, CdazUse::Inspect);
    if (!loaded)
        return kExitFailure;

    std::error_code error;
    const fs::path dest(options.dest);
    const bool intoFolder = fs::is_directory(dest, error) || options.dest.ends_with('/');
    const CdazLocation target = locationOfPath(intoFolder ? dest / source.fileName : dest);
    if (fs::exists(target.path, error)) {
        if (fs::equivalent(source.path, target.path, error)) {
            reportError(subject, target.path.string() + ": is the file copied");
            return kExitFailure;
        }
        if (fs::is_directory(target.path, error)) {
            reportError(subject, target.path.string() + ": is a folder");
            return kExitFailure;
        }
        if (!options.force) {
            reportError(subject, target.path.string() + ": exists (--force replaces it)");
            return kExitFailure;
        }
    }
    if (PlbSaveCDAZ(target.folder.c_str(), target.fileName.c_str(), loaded->record.get()) == 0) {
        reportError(subject, target.path.string() + ": cannot be written (" + saveFailureReason() + ")");
        return kExitFailure;
    }
    std::cout << target.path.string() << ": saved\n";
    return kExitOk;
}

int runCdazDelete(const CdazOptions& options)
{
    const char* subject = "cdaz delete";
    if (!libraryReady(subject))
        return kExitFailure;
    const CdazLocation location = locateCdaz(options.file);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(location.path, error);
    if (!fs::exists(status)) {
        reportError(subject, location.path.string() + ": no such CDAZ file");
        return kExitFailure;
    }
    if (fs::is_directory(status) || !endsWithCdaz(location.fileName)) {
        reportError(subject, location.path.string() + ": not a CDAZ file (*.cdaz); nothing deleted");
        return kExitFailure;
    }
    if (PlbDeleteCDAZ(location.folder.empty() ? nullptr : location.folder.c_str(),
                      location.fileName.c_str()) == 0) {
        reportError(subject, location.path.string() + ": cannot be deleted");
        return kExitFailure;
    }
    std::cout << location.path.string() << ": deleted\n";
    return kExitOk;
}

void addCdazCommands(CommandSet& commands)
{
    auto options = std::make_shared<CdazOptions>();
    CdazOptions& o = *options;
    CLI::App* cdaz = commands.app().add_subcommand(
        "cdaz", "List, show, edit, copy and delete CDAZ files (disc analyses).");
    cdaz->require_subcommand(1);
    const char* fileHelp = "A CDAZ file (a path) or the name of one in the analyze folder.";

    CLI::App* list = commands.add(cdaz, "list",
                                  "List the CDAZ files of the analyze folder with title and "
                                  "stream counts.",
                                  [options] { return runCdazList(*options); });
    addJsonFlag(list, o.json);

    CLI::App* show = commands.add(cdaz, "show", "Show a CDAZ: the disc texts, the plugins and the streams.",
                                  [options] { return runCdazShow(*options); });
    show->add_option("file", o.file, fileHelp)->required();
    addJsonFlag(show, o.json);

    CLI::App* edit = commands.add(
        cdaz, "edit", "Change a CDAZ's texts, stream names, hidden streams and plugins, and save it.",
        [options] {
            return runUnlessProblem("cdaz edit", cdazEditUsageProblem(*options),
                                    [&] { return runCdazEdit(*options); });
        });
    edit->add_option("file", o.file, fileHelp)->required();
    edit->add_option("--title", o.title, "The disc title (at most 64 bytes).");
    edit->add_option("--prefix", o.prefix, "The prefix of the default stream titles (at most 16 bytes).");
    edit->add_option("--stream", o.nameStreams, "A stream number (from 1) whose --name follows; repeatable.")
        ->check(wholeRange(1));
    edit->add_option("--name", o.names,
                     "The name of the stream of the --stream before it (empty: the default title).");
    edit->add_option("--hide", o.hide, "Hide this stream (number from 1); repeatable.")->check(wholeRange(1));
    edit->add_option("--show", o.show, "Show this stream again (number from 1); repeatable.")
        ->check(wholeRange(1));
    edit->add_option("--plugin-off", o.pluginsOff,
                     "Switch a plugin off for this disc (file name or number from 1); repeatable.");
    edit->add_option("--plugin-on", o.pluginsOn,
                     "Switch a plugin on again (file name or number from 1); repeatable.");
    edit->add_option("--plugin-order", o.pluginOrder,
                     "Plugin file names or numbers, comma-separated, highest priority first; the "
                     "others follow in their order.");

    CLI::App* copy = commands.add(cdaz, "copy", "Load a CDAZ and save it under another folder or file name.",
                                  [options] { return runCdazCopy(*options); });
    copy->add_option("file", o.file, fileHelp)->required();
    copy->add_option("dest", o.dest, "The folder or the file to write.")->required();
    copy->add_flag("--force", o.force, "Replace an existing file.");

    CLI::App* remove =
        commands.add(cdaz, "delete", "Delete a CDAZ file.", [options] { return runCdazDelete(*options); });
    remove->add_option("file", o.file, fileHelp)->required();
}

} // namespace tamrin::cli
