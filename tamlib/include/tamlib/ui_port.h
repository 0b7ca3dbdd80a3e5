/*
 * libtamlib user-interface port: whatever the library must tell or ask the user goes through
 * one small interface that each front end implements (the Qt layer, the command-line tool, the
 * tests). Until a program installs its own, a built-in port is used: messages go to stderr and
 * every question takes its default answer.
 *
 * The message functions follow the classic message-box conventions: a box type made of the
 * buttons (low nibble), an icon (0x10 to 0x40) and the default button (0x000, 0x100, 0x200), and
 * an answer naming the button chosen.
 */
#ifndef TAMLIB_UI_PORT_H
#define TAMLIB_UI_PORT_H

#include "tamlib/plb.h"

/* Buttons. */
#define PLB_MB_OK 0x0
#define PLB_MB_OKCANCEL 0x1
#define PLB_MB_ABORTRETRYIGNORE 0x2
#define PLB_MB_YESNOCANCEL 0x3
#define PLB_MB_YESNO 0x4
#define PLB_MB_RETRYCANCEL 0x5
#define PLB_MB_BUTTONS 0xF
/* Icons. */
#define PLB_MB_ICONERROR 0x10
#define PLB_MB_ICONQUESTION 0x20
#define PLB_MB_ICONWARNING 0x30
#define PLB_MB_ICONINFORMATION 0x40
#define PLB_MB_ICONS 0xF0
/* Default button: the first unless one of these is given. */
#define PLB_MB_DEFBUTTON2 0x100
#define PLB_MB_DEFBUTTON3 0x200
#define PLB_MB_DEFBUTTONS 0xF00

/* Answers. */
#define PLB_IDOK 1
#define PLB_IDCANCEL 2
#define PLB_IDABORT 3
#define PLB_IDRETRY 4
#define PLB_IDIGNORE 5
#define PLB_IDYES 6
#define PLB_IDNO 7

/* A message of the formatted text (at most 1023 bytes) with the given caption; the answer. */
PLB_API int32_t PlbMessage(void* window, uint32_t type, const char* caption, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
/* The same with the caption of string 31 "ERROR" and the error icon, 32 "WARNING" and the warning
 * icon, 34 "QUESTION" and the question icon, 33 "INFORMATION" and the information icon. The icon
 * replaces any icon given in `type`. */
PLB_API int32_t PlbError(void* window, uint32_t type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
PLB_API int32_t PlbWarning(void* window, uint32_t type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
PLB_API int32_t PlbQuestion(void* window, uint32_t type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
PLB_API int32_t PlbInformation(void* window, uint32_t type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/* The C++ part of the port is exported from the shared library too. */
#define PLB_CXX_API __attribute__((visibility("default")))

namespace tamlib {

struct MessageRequest
{
    void* window = nullptr;
    uint32_t type = 0; // PLB_MB_* buttons | icon | default button
    std::string caption;
    std::string text;
};

// A choice among items, for example the drive at the first start.
struct ChoiceRequest
{
    void* window = nullptr;
    std::string caption;
    std::vector<std::string> items;
    int32_t current = -1; // the item chosen so far; -1 none
};

// The adoption question of the disc analysis: a CDAZ of the disc exists (on the local disk, or
// newer on the exchange server) and may be used instead of a new analysis.
enum class AdoptAnswer : int32_t
{
    Adopt = 0,   // "This CDAZ is adopted": the record on view
    Server = 1,  // "server is searched" (one record only)
    Local = 2,   // "Local CDAZ is adopted" (two records: keep the local one)
    Analyze = 3, // "Analysis is performed": a new analysis
};

struct AdoptRequest
{
    void* window = nullptr;
    std::string caption; // "Adoption of CDAZ is checked"
    std::string message;
    // The record on view: the downloaded one when there is one, else the local one.
    std::string title;
    std::string state; // "Analysis is completed." or "Analysis is interrupted."
    int32_t streams = 0;
    int32_t validStreams = 0;
    bool adoptable = false;
    struct Plugin
    {
        std::string name;             // installed plugin's name, else the entry's file name
        std::string analysisVersion;  // the entry's version, "%d.%02d"
        std::string installedVersion; // "%d.%02d" or "---"
        std::string status;           // "no plug-in", "Analysis is required again" or "OK"
        bool files = false;           // the installed plugin handles files
        bool disc = false;            // ... and discs
    };
    std::vector<Plugin> plugins;
    bool twoRecords = false;   // Local replaces Server
    bool serverEnabled = true; // Server may be chosen (not searched yet)
    AdoptAnswer defaultAnswer = AdoptAnswer::Adopt;
};

// The plugin choice before a disc analysis: the rows in order, checked ones take part.
struct PluginChoiceRequest
{
    void* window = nullptr;
    std::string caption; // "Start of CD-ROM analysis"
    struct Row
    {
        std::string name;
        std::string file;
        bool checked = true;
    };
    std::vector<Row> rows;
};

// The running analysis, as its dialog shows it.
struct ProgressState
{
    uint64_t done = 0;
    uint64_t total = 0;
    std::string count;     // "%d/%d : %d%%"
    std::string elapsed;   // "%d:%02d"
    std::string remaining; // "After, about ..." or empty while there is no estimate
};

// The end of a disc analysis that found streams: the title and prefix may be edited.
struct AnalysisDoneRequest
{
    void* window = nullptr;
    std::string caption; // "The completion of CD-ROM analysis"
    std::string message;
    std::string title;  // at most 64 characters
    std::string prefix; // at most 16 characters
};

// The video codec of AVI conversions: the usable codecs, and the choice so far. The port shows
// them with "uncompressed frames" as the first choice and may change the key-frame interval,
// quality and data rate.
struct CodecChoiceRequest
{
    void* window = nullptr;
    struct Codec
    {
        uint32_t handler = 0;    // four-character code, first character in the low byte
        std::string name;        // short name, for example "mjpeg"
        std::string description; // the codec's long name
        uint32_t keyFrameEvery = 0; // the codec's defaults
        uint32_t quality = 0;
    };
    std::vector<Codec> codecs;
    // In: the preset; out: the choice. `codec` is an index of `codecs`, or -1 for uncompressed
    // frames; a value of 0 means "not set".
    int32_t codec = -1;
    uint32_t keyFrameEvery = 0;
    uint32_t quality = 0;    // 1 to 10000
    uint32_t dataRateKb = 0; // KB (1024 bytes) per second
};

class PLB_CXX_API UiPort
{
  public:
    virtual ~UiPort() = default;
    // Shows a message; returns the answer (PLB_ID*), which must be one of the box's buttons.
    virtual int32_t message(const MessageRequest& request) = 0;
    // Asks for one of the items; returns its index, or -1 when the user declines.
    virtual int32_t choose(const ChoiceRequest& request) = 0;
    // Shows a text in a dialog item; front ends without dialogs may ignore it.
    virtual void setItemText(void* dialog, int32_t item, const std::string& text) = 0;

    // The disc analysis. A port that does not override these takes the default of each
    // question. The progress calls and stopRequested come from the analysis' worker thread.
    virtual AdoptAnswer adoptCdaz(const AdoptRequest& request) { return request.defaultAnswer; }
    // Reorders and checks the rows in place; false cancels the analysis.
    virtual bool choosePlugins(PluginChoiceRequest& request)
    {
        (void)request;
        return true;
    }
    virtual void beginProgress(const std::string& caption, uint64_t total)
    {
        (void)caption;
        (void)total;
    }
    virtual void updateProgress(const ProgressState& state) { (void)state; }
    virtual void endProgress() {}
    // Polled before every sector: true once the user asked the analysis to stop.
    virtual bool stopRequested() { return false; }
    // May change the title and prefix; the analysis keeps what it gets back.
    virtual void analysisDone(AnalysisDoneRequest& request) { (void)request; }

    // The codec choice of AVI conversions; true when the user confirmed a choice (kept in the
    // request). A port without it never confirms.
    virtual bool chooseVideoCodec(CodecChoiceRequest& request)
    {
        (void)request;
        return false;
    }
};

// Installs the port the library talks through and returns the one it replaces (null: the
// built-in port). The caller keeps ownership and must keep the port alive while it is installed;
// null goes back to the built-in port.
PLB_CXX_API UiPort* setUiPort(UiPort* port);
// The installed port.
PLB_CXX_API UiPort& uiPort();

// The answers a box type offers, in button order, and its default answer.
PLB_CXX_API std::vector<int32_t> answersOf(uint32_t type);
PLB_CXX_API int32_t defaultAnswer(uint32_t type);
// The answer's button name in the current language ("Yes", "No", ...).
PLB_CXX_API std::string answerName(int32_t answer);

// Installs a port for the lifetime of a scope.
class ScopedUiPort
{
  public:
    explicit ScopedUiPort(UiPort& port) : m_previous(setUiPort(&port)) {}
    ~ScopedUiPort() { setUiPort(m_previous); }
    ScopedUiPort(const ScopedUiPort&) = delete;
    ScopedUiPort& operator=(const ScopedUiPort&) = delete;

  private:
    UiPort* m_previous;
};

} // namespace tamlib

#endif

#endif
