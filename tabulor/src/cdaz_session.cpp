#include "cdaz_session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "session_texts.h"
#include "tamlib/environment.h"
#include "tamrin_common/user_folders.h"

namespace tabulor {

namespace fs = std::filesystem;

namespace {

struct RecordFree
{
    void operator()(CdazRecord* record) const { PlbFreeCDAZ(record); }
};
using RecordPointer = std::unique_ptr<CdazRecord, RecordFree>;

// The longest texts the fields take, in bytes.
constexpr size_t kTitleLimit = PLB_CDAZ_TITLE_BYTES - 1;
constexpr size_t kPrefixLimit = PLB_CDAZ_PREFIX_BYTES - 1;
constexpr size_t kStreamTitleLimit = 48;

fs::path analyzeFolder()
{
    const fs::path data = tamrin_common::dataFolder();
    return (data.empty() ? fs::path(".") : data) / "Analyze";
}

bool present(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

// A name without a folder: a file of the analyze folder.
bool bareName(const std::string& name)
{
    return name.find('/') == std::string::npos;
}

// ".cdaz" after a name whose file part has no extension.
std::string withExtension(const std::string& name)
{
    const fs::path path(name);
    return path.has_extension() ? name : name + ".cdaz";
}

// The full, normalised form of a path, so that one file opened twice is known as one.
fs::path fullPath(const std::string& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error)
        absolute = path;
    return absolute.lexically_normal();
}

struct CdazTexts
{
    std::string name, title, prefix;
    int32_t streams = -1;
};

CdazTexts cdazTexts(CdazRecord* record)
{
    char name[PLB_CDAZ_NAME_BYTES] = {}, title[PLB_CDAZ_TITLE_BYTES] = {}, prefix[PLB_CDAZ_PREFIX_BYTES] = {};
    CdazTexts texts;
    texts.streams = PlbGetCDAZInfo(record, name, title, prefix, nullptr, nullptr);
    texts.name = name;
    texts.title = title;
    texts.prefix = prefix;
    return texts;
}

bool overlap(const StrInfo& a, const StrInfo& b)
{
    const uint64_t aEnd = uint64_t(a.startSector) + a.sectorCount;
    const uint64_t bEnd = uint64_t(b.startSector) + b.sectorCount;
    return a.startSector < bEnd && b.startSector < aEnd;
}

// The name a CDAZ is stored under in the analyze folder: its CDAZ name, unless that is no plain
// file name (a file may carry any name, "../x" included), then `fallback`.
std::string analyzeName(CdazRecord* record, const std::string& fallback)
{
    const std::string name = cdazTexts(record).name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return fallback;
    return name;
}

int32_t pluginCount(CdazRecord* record)
{
    int32_t count = 0;
    while (PlbGetCDAZPlugin(record, count, nullptr, nullptr, nullptr, nullptr, nullptr) != 0)
        ++count;
    return count;
}

// A text the library stores as a C string: no zero inside, at most `limit` bytes.
bool storable(const std::string& text, size_t limit)
{
    return text.size() <= limit && text.find('\0') == std::string::npos;
}

// Saves `record` as `file` in `folder` (empty: the analyze folder); a failure is told with the
// reason the system gave. The library keeps an earlier file when the save fails.
bool saveRecord(Asker& asker, CdazRecord* record, const std::string& folder, const std::string& file,
                const std::string& shown)
{
    const SessionTexts& texts = sessionTexts();
    errno = 0;
    // An empty file name would make the library take the CDAZ's own name instead.
    if (file.empty() || PlbSaveCDAZ(folder.empty() ? nullptr : folder.c_str(), file.c_str(), record) == 0) {
        const int error = file.empty() ? EINVAL : errno;
        asker.tell(formatText(texts.saveFailed, {shown}) +
                   formatText(texts.saveReason, {error ? std::strerror(error) : texts.unknownReason}));
        return false;
    }
    return true;
}

} // namespace

struct CdazSession::Entry
{
    std::string path; // empty: a file of the analyze folder, known by `name`
    std::string name; // its name in the analyze folder, or the file part of `path`
    bool modified = false;
    RecordPointer record;

    // Where it is saved: the folder (null for the analyze folder) and the file name.
    std::string folder() const
    {
        return path.empty() ? std::string() : fs::path(path).parent_path().string();
    }
    // What the messages call it.
    std::string shown() const { return path.empty() ? name : path; }
};

CdazSession::CdazSession(Asker& asker) : m_asker(asker) {}

CdazSession::~CdazSession() = default;

Mode CdazSession::mode() const
{
    return m_mode;
}

int CdazSession::count() const
{
    return int(m_entries.size());
}

int CdazSession::current() const
{
    return m_current;
}

void CdazSession::setCurrent(int index)
{
    if (index >= 0 && index < count())
        m_current = index;
}

std::string CdazSession::selectorText(int index) const
{
    if (index < 0 || index >= count())
        return {};
    const Entry& entry = *m_entries[size_t(index)];
    return cdazTexts(entry.record.get()).title + (entry.modified ? " *" : "") + " " + entry.shown();
}

bool CdazSession::modified(int index) const
{
    return index >= 0 && index < count() && m_entries[size_t(index)]->modified;
}

std::string CdazSession::path(int index) const
{
    return index >= 0 && index < count() ? m_entries[size_t(index)]->path : std::string();
}

std::string CdazSession::fileName(int index) const
{
    return index >= 0 && index < count() ? m_entries[size_t(index)]->name : std::string();
}

std::string CdazSession::title(int index) const
{
    return index >= 0 && index < count() ? cdazTexts(m_entries[size_t(index)]->record.get()).title
                                         : std::string();
}

std::string CdazSession::prefix(int index) const
{
    return index >= 0 && index < count() ? cdazTexts(m_entries[size_t(index)]->record.get()).prefix
                                         : std::string();
}

CdazRecord* CdazSession::record(int index) const
{
    return index >= 0 && index < count() ? m_entries[size_t(index)]->record.get() : nullptr;
}

int CdazSession::open(const std::string& given)
{
    const SessionTexts& texts = sessionTexts();
    if (given.empty())
        return -1;
    // A bare name is a file of the analyze folder; anything else is loaded from its own folder
    // (which may be the analyze folder too: the library tells).
    std::string folder, file = given, shownPath = given;
    if (!bareName(given)) {
        const fs::path full = fullPath(given);
        folder = full.parent_path().string();
        file = full.filename().string();
        shownPath = full.string();
    }
    std::error_code error;
    const bool folderGiven =
        fs::is_directory(folder.empty() ? analyzeFolder() / file : fs::path(shownPath), error);
    int32_t status = 0;
    const PlbCdazLoad load =
        file.empty() || folderGiven
            ? PlbCdazLoad{nullptr, PLB_CDAZ_LOAD_CANNOT_OPEN}
            : PlbLoadCDAZ(folder.empty() ? nullptr : folder.c_str(), file.c_str(), &status);
    RecordPointer record(load.record);
    if (!record) {
        m_asker.tell(formatText(texts.notOpened, {shownPath}));
        return -1;
    }

    auto entry = std::make_unique<Entry>();
    bool takeIn = false;
    if (!(load.status & PLB_CDAZ_LOAD_OTHER_FOLDER)) {
        if (m_mode == Mode::Exterior) {
            m_asker.tell(formatText(texts.systemManaged, {shownPath}));
            return -1;
        }
        entry->name = file;
    } else if (m_mode == Mode::System) {
        // Taken in: from now on it is the analyze folder's CDAZ of its disc.
        const std::string name = analyzeName(record.get(), file);
        if (present(analyzeFolder() / name) &&
            m_asker.ask(formatText(texts.sameCdrom, {name}), false) != Asker::Answer::Yes)
            return -1;
        entry->name = name;
        takeIn = true;
    } else {
        entry->path = shownPath;
        entry->name = file;
    }
    if (m_mode == Mode::Nothing)
        m_mode = entry->path.empty() ? Mode::System : Mode::Exterior;

    for (size_t i = 0; i < m_entries.size(); ++i) {
        Entry& open = *m_entries[i];
        if (open.path != entry->path || open.name != entry->name)
            continue;
        m_current = int(i);
        if (takeIn) {
            open.record = std::move(record);
            open.modified = true;
            save(int(i));
        }
        return m_current;
    }

    entry->record = std::move(record);
    m_entries.push_back(std::move(entry));
    m_current = count() - 1;
    // Stored at once where it belongs: a taken-in CDAZ is then in the analyze folder. When that
    // fails the entry stays open, modified, so that nothing of it is lost.
    m_entries.back()->modified = true;
    save(m_current);
    return m_current;
}

int CdazSession::openAnalyzeFolder()
{
    std::vector<std::string> names;
    char name[PLB_CDAZ_NAME_BYTES] = {};
    for (CdazSearch* search = PlbFindCDAZ(nullptr, name); search; search = PlbFindCDAZ(search, name))
        names.emplace_back(name);
    std::sort(names.begin(), names.end());
    int opened = 0;
    for (const std::string& file : names) {
        const int before = count();
        if (open(file) >= 0 && count() > before)
            ++opened;
    }
    return opened;
}

bool CdazSession::close(int index)
{
    if (index < 0 || index >= count())
        return false;
    Entry& entry = *m_entries[size_t(index)];
    if (entry.modified) {
        switch (m_asker.ask(formatText(sessionTexts().changed, {entry.shown()}), true)) {
        case Asker::Answer::Yes:
            if (!save(index))
                return false;
            break;
        case Asker::Answer::No:
            break;
        case Asker::Answer::Cancel:
            return false;
        }
    }
    m_entries.erase(m_entries.begin() + index);
    if (m_current > index || m_current >= count())
        --m_current;
    return true;
}

bool CdazSession::closeAll()
{
    while (count() > 0)
        if (!close(0))
            return false;
    return true;
}

bool CdazSession::save(int index)
{
    if (index < 0 || index >= count())
        return false;
    Entry& entry = *m_entries[size_t(index)];
    if (!saveRecord(m_asker, entry.record.get(), entry.folder(), entry.name, entry.shown()))
        return false;
    entry.modified = false;
    return true;
}

bool CdazSession::saveAs(int index, const std::string& target)
{
    if (index < 0 || index >= count() || target.empty())
        return false;
    Entry& entry = *m_entries[size_t(index)];
    const SessionTexts& texts = sessionTexts();
    std::string folder, file, shown;
    if (bareName(target)) {
        file = withExtension(target);
        shown = file;
        const bool own = entry.path.empty() && entry.name == file;
        if (!own && present(analyzeFolder() / file) &&
            m_asker.ask(formatText(texts.sameCdrom, {file}), false) != Asker::Answer::Yes)
            return false;
    } else {
        // A folder without a file name names no file: the save below refuses it.
        const fs::path full = fullPath(fs::path(target).has_filename() ? withExtension(target) : target);
        folder = full.parent_path().string();
        file = full.filename().string();
        shown = full.string();
        const bool own = entry.path == shown;
        if (!own && !file.empty() && present(full) &&
            m_asker.ask(formatText(texts.fileExists, {shown}), false) != Asker::Answer::Yes)
            return false;
    }
    if (!saveRecord(m_asker, entry.record.get(), folder, file, shown))
        return false;
    entry.modified = false;
    return true;
}

bool CdazSession::saveAll()
{
    bool all = true;
    for (int i = 0; i < count(); ++i)
        all = save(i) && all;
    return all;
}

bool CdazSession::saveToAnalyze(int index)
{
    if (index < 0 || index >= count())
        return false;
    const Entry& entry = *m_entries[size_t(index)];
    return saveAs(index, analyzeName(entry.record.get(), entry.name));
}

bool CdazSession::saveAllToAnalyze()
{
    bool all = true;
    for (int i = 0; i < count(); ++i)
        all = saveToAnalyze(i) && all;
    return all;
}

bool CdazSession::remove(int index)
{
    if (index < 0 || index >= count())
        return false;
    const Entry& entry = *m_entries[size_t(index)];
    const SessionTexts& texts = sessionTexts();
    if (m_asker.ask(formatText(texts.askDelete, {entry.shown(), cdazTexts(entry.record.get()).title}),
                    false) != Asker::Answer::Yes)
        return false;
    const std::string folder = entry.folder();
    if (PlbDeleteCDAZ(folder.empty() ? nullptr : folder.c_str(), entry.name.c_str()) == 0) {
        m_asker.tell(formatText(texts.notDeleted, {entry.shown()}));
        return false;
    }
    m_entries.erase(m_entries.begin() + index);
    if (m_current > index || m_current >= count())
        --m_current;
    return true;
}

bool CdazSession::setTitle(int index, const std::string& title)
{
    CdazRecord* cdaz = record(index);
    if (!cdaz || !storable(title, kTitleLimit) || cdazTexts(cdaz).title == title)
        return false;
    if (PlbSetCDAZInfo(cdaz, title.c_str(), nullptr, 0, 0) == 0)
        return false;
    m_entries[size_t(index)]->modified = true;
    return true;
}

bool CdazSession::setPrefix(int index, const std::string& prefix)
{
    CdazRecord* cdaz = record(index);
    if (!cdaz || !storable(prefix, kPrefixLimit) || cdazTexts(cdaz).prefix == prefix)
        return false;
    if (PlbSetCDAZInfo(cdaz, nullptr, prefix.c_str(), 0, 0) == 0)
        return false;
    m_entries[size_t(index)]->modified = true;
    return true;
}

std::vector<int> CdazSession::setHidden(int index, const std::vector<int>& streams, bool hidden)
{
    std::vector<int> rows;
    CdazRecord* cdaz = record(index);
    if (!cdaz)
        return rows;
    std::vector<int> changed;
    for (int stream : streams) {
        int32_t flags = 0;
        if (PlbGetCDAZStream(cdaz, stream, nullptr, nullptr, &flags, nullptr) == 0)
            continue;
        if (bool(flags & PLB_CDAZ_STREAM_USER_HIDDEN) == hidden ||
            std::find(changed.begin(), changed.end(), stream) != changed.end())
            continue;
        if (PlbSetCDAZStream(cdaz, stream, nullptr, nullptr, PLB_CDAZ_STREAM_USER_HIDDEN,
                             hidden ? PLB_CDAZ_STREAM_USER_HIDDEN : 0) != 0)
            changed.push_back(stream);
    }
    if (changed.empty())
        return rows;
    m_entries[size_t(index)]->modified = true;
    // The normalisation may hide or reveal the streams that overlap a changed one.
    std::vector<StrInfo> infos;
    StrInfo info{};
    for (int32_t i = 0; PlbGetCDAZStream(cdaz, i, &info, nullptr, nullptr, nullptr) != 0; ++i)
        infos.push_back(info);
    for (int row = 0; row < int(infos.size()); ++row) {
        const bool refresh = std::any_of(changed.begin(), changed.end(), [&](int stream) {
            return stream == row ||
                   (stream < int(infos.size()) && overlap(infos[size_t(stream)], infos[size_t(row)]));
        });
        if (refresh)
            rows.push_back(row);
    }
    return rows;
}

bool CdazSession::renameStream(int index, int stream, const std::string& title)
{
    CdazRecord* cdaz = record(index);
    char shown[PLB_CDAZ_STREAM_NAME_BYTES] = {};
    if (!cdaz || !storable(title, kStreamTitleLimit) ||
        PlbGetCDAZStream(cdaz, stream, nullptr, shown, nullptr, nullptr) == 0 || title == shown)
        return false;
    if (PlbSetCDAZStream(cdaz, stream, nullptr, title.c_str(), 0, 0) == 0)
        return false;
    m_entries[size_t(index)]->modified = true;
    return true;
}

bool CdazSession::setPluginOff(int index, int plugin, bool off)
{
    CdazRecord* cdaz = record(index);
    if (!cdaz)
        return false;
    // With an empty mask the call only reads the flags.
    const int32_t flags = PlbSetCDAZPluginFlags(cdaz, plugin, 0, 0);
    if (flags < 0 || bool(flags & PLB_CDAZ_PLUGIN_OFF) == off)
        return false;
    if (PlbSetCDAZPluginFlags(cdaz, plugin, PLB_CDAZ_PLUGIN_OFF, off ? PLB_CDAZ_PLUGIN_OFF : 0) < 0)
        return false;
    m_entries[size_t(index)]->modified = true;
    return true;
}

bool CdazSession::movePlugin(int index, int from, int to)
{
    CdazRecord* cdaz = record(index);
    // The library would move an entry to the nearest end for a place outside the list.
    if (!cdaz || from == to || to < 0 || to >= pluginCount(cdaz) ||
        PlbSetCDAZPluginPriority(cdaz, from, to) == 0)
        return false;
    m_entries[size_t(index)]->modified = true;
    return true;
}

std::vector<StreamRow> CdazSession::streams(int index) const
{
    std::vector<StreamRow> rows;
    CdazRecord* cdaz = record(index);
    if (!cdaz)
        return rows;
    for (int32_t i = 0;; ++i) {
        StreamRow row;
        char name[PLB_CDAZ_STREAM_NAME_BYTES] = {};
        if (PlbGetCDAZStream(cdaz, i, &row.info, name, &row.flags, &row.pluginIndex) == 0)
            break;
        row.title = name;
        if (!(row.flags & PLB_CDAZ_STREAM_NO_PLUGIN)) {
            char plugin[PLB_CDAZ_PLUGIN_NAME_BYTES] = {};
            if (PlbGetCDAZPlugin(cdaz, row.pluginIndex, nullptr, plugin, nullptr, nullptr, nullptr) != 0)
                row.plugin = plugin;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<PluginRow> CdazSession::plugins(int index) const
{
    std::vector<PluginRow> rows;
    CdazRecord* cdaz = record(index);
    if (!cdaz)
        return rows;
    const std::vector<StreamRow> streamRows = streams(index);
    for (int32_t i = 0;; ++i) {
        PluginRow row;
        char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {}, name[PLB_CDAZ_PLUGIN_NAME_BYTES] = {};
        char author[PLB_CDAZ_AUTHOR_BYTES] = {}, address[PLB_CDAZ_ADDRESS_BYTES] = {};
        if (PlbGetCDAZPlugin(cdaz, i, file, name, &row.analysed, author, address) == 0)
            break;
        row.fileName = file;
        row.name = name;
        row.author = author;
        row.address = address;
        uint16_t version = 0, subVersion = 0;
        char installed[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
        std::memcpy(installed, file, sizeof installed);
        if (PlbGetPluginInfo(-1, installed, nullptr, &version, &subVersion, nullptr, nullptr, nullptr,
                             nullptr) >= 0) {
            row.current = int16_t(version);
            row.security = int16_t(subVersion);
        }
        row.off = (PlbSetCDAZPluginFlags(cdaz, i, 0, 0) & PLB_CDAZ_PLUGIN_OFF) != 0;
        for (const StreamRow& stream : streamRows) {
            if (stream.pluginIndex != i)
                continue;
            ++row.streams;
            row.clean += stream.flags == 0;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace tabulor
