// The CDAZ files open in the editor and every edit made to them, through the library's CDAZ store
// operations only (tamlib/cdaz.h): this never reads the file format itself. No widgets: the window
// shows what a session holds, and the session asks its questions and tells its failures through
// an Asker (message boxes in the window, scripted answers in the tests).
//
// The mode is fixed by the first CDAZ opened: the CDAZ files of the analyze folder (system mode)
// or files from elsewhere (exterior mode). In system mode a file from elsewhere is taken in: it is
// stored into the analyze folder under its CDAZ name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "streamkit/psr.h"
#include "tamlib/cdaz.h"

namespace tabulor {

enum class Mode
{
    Nothing = 0, // no CDAZ opened yet
    System = 1,  // the analyze folder's CDAZ files
    Exterior = 2 // CDAZ files from elsewhere, each under its path
};

class Asker
{
  public:
    enum class Answer
    {
        Yes,
        No,
        Cancel
    };
    virtual ~Asker() = default;
    // A refusal or a failure.
    virtual void tell(const std::string& text) = 0;
    // A question answered Yes or No, or also Cancel when `withCancel`.
    virtual Answer ask(const std::string& text, bool withCancel) = 0;
};

// One row of the stream list, in the record's order.
struct StreamRow
{
    std::string title; // the stream's title, or the default title the library gives
    StrInfo info{};
    int32_t flags = 0; // PLB_CDAZ_STREAM_*
    int32_t pluginIndex = -1;
    std::string plugin; // the installed plugin's name; empty with PLB_CDAZ_STREAM_NO_PLUGIN
};

// One plugin entry of the CDAZ, in priority order.
struct PluginRow
{
    std::string name;     // the installed plugin's name (empty when none is installed)
    std::string fileName; // as the CDAZ keeps it
    int16_t analysed = 0; // the version that analysed the disc
    int16_t current = -1; // the installed version; -1 when not installed
    int16_t security = -1; // the installed sub-version; -1 when not installed
    int32_t streams = 0;   // streams of this plugin
    int32_t clean = 0;     // of them, those without any flag
    bool off = false;      // PLB_CDAZ_PLUGIN_OFF
    std::string author;
    std::string address;
};

// The texts of the list's columns and of the detail panel.
std::string listText(int32_t flags);         // "Hidden" / "Show"
std::string statusText(int32_t flags);       // "No plug-in", "Old plug-in", ..., "Normal"
std::string timeText(uint32_t ms);           // "%d:%02d"
std::string detailTimeText(uint32_t ms);     // "%02d.%03d秒" / "%d分%02d.%03d秒"
std::string typeText(const StrInfo& info);   // "MOVIE+AUDIO[Variable]", "AUDIO", ...
std::string frameRateText(uint32_t rate);    // "%d fps", "%d.%d fps", "%d.%02d fps"
std::string versionText(int32_t version);    // "%d.%02d"
std::string detectionText(int32_t streams, int32_t clean); // "%d(%d)"

class CdazSession
{
  public:
    explicit CdazSession(Asker& asker);
    // Frees the records; nothing is saved.
    ~CdazSession();
    CdazSession(const CdazSession&) = delete;
    CdazSession& operator=(const CdazSession&) = delete;

    Mode mode() const;
    int count() const;
    // The CDAZ on show; -1 when none is open.
    int current() const;
    void setCurrent(int index);

    // The selector's text of an open CDAZ: its CD title, " *" when modified, then its path or
    // CDAZ name.
    std::string selectorText(int index) const;
    bool modified(int index) const;
    // The full path of a CDAZ from elsewhere; empty for one of the analyze folder.
    std::string path(int index) const;
    // The file name it has in the analyze folder (its CDAZ name), or the file part of its path.
    std::string fileName(int index) const;
    std::string title(int index) const;
    std::string prefix(int index) const;
    CdazRecord* record(int index) const;

    // Opens a CDAZ file (a full path, or a bare name of the analyze folder): a damaged file is
    // refused; a file of the analyze folder is refused in exterior mode; in system mode a file from
    // elsewhere is taken in (asking before it replaces one of the same name); one already open is
    // shown again (a take-in replaces its record); a new one is saved at once where it belongs.
    // Refusals and questions go through the asker. The index shown afterwards, or -1 when nothing
    // was opened.
    int open(const std::string& path);
    // Opens every CDAZ of the analyze folder; the number opened.
    int openAnalyzeFolder();

    // Closes one CDAZ, asking first when it is modified (Yes saves); false when cancelled or when
    // its save failed.
    bool close(int index);
    // Closes every CDAZ as close() does; false (the rest left open) at the first cancel.
    bool closeAll();

    // Saves where it came from; false after telling why.
    bool save(int index);
    // Saves to `target`: a bare name goes to the analyze folder; ".cdaz" is added to a name
    // without an extension; an existing file is overwritten only when the user says so.
    bool saveAs(int index, const std::string& target);
    bool saveAll();
    // Saves into the analyze folder under its CDAZ name.
    bool saveToAnalyze(int index);
    bool saveAllToAnalyze();
    // Deletes the file after asking and closes the CDAZ; false when declined or failed.
    bool remove(int index);

    // Edits of the CDAZ; each marks it modified when it changed something.
    bool setTitle(int index, const std::string& title);
    bool setPrefix(int index, const std::string& prefix);
    // Sets or clears the user-hidden flag of `streams`; returns the rows whose "List" or "Status"
    // changed (the streams changed and the streams overlapping them).
    std::vector<int> setHidden(int index, const std::vector<int>& streams, bool hidden);
    // A new title (at most 48 characters); false when refused or unchanged.
    bool renameStream(int index, int stream, const std::string& title);
    bool setPluginOff(int index, int plugin, bool off);
    bool movePlugin(int index, int from, int to);

    std::vector<StreamRow> streams(int index) const;
    std::vector<PluginRow> plugins(int index) const;

  private:
    struct Entry;
    Asker& m_asker;
    std::vector<std::unique_ptr<Entry>> m_entries;
    Mode m_mode = Mode::Nothing;
    int m_current = -1;
};

// The window's geometry kept between runs: a 344-byte record, Tabulor.ini in the configuration
// folder. Used only when exactly 344 bytes are read.
struct WindowSettings
{
    bool placed = false; // false: the system places the window
    int32_t left = 0, top = 0, width = 0, height = 0;
    int32_t detailWidth = 0;
    int32_t columns[7] = {140, 70, 50, 60, 120, 50, 50};
};
inline constexpr size_t kWindowSettingsSize = 344;
std::string windowSettingsPath();
WindowSettings readWindowSettings(const std::string& path);
bool writeWindowSettings(const std::string& path, const WindowSettings& settings);

} // namespace tabulor
