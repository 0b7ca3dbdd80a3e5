/*
 * libtamlib environment: settings, drive choice, installed plugins, language and debug log.
 *
 * Every program calls PlbInitialize first, before any other Plb call, and PlbTerminate last.
 * PlbInitialize builds the environment: it reads the settings file "Tamlib.ini" from the
 * configuration folder ($TAMRIN_HOME, else $XDG_CONFIG_HOME/tamrin, else ~/.config/tamrin),
 * reports an unusable CD layer, chooses the CD drive (the remembered one, else the first drive
 * that reads Mode 2 Form 1 and Form 2 sectors; at the first start with several drives the user
 * is asked through the user-interface port), lists the plugins of the PsrPlugins folder beside
 * the library merged with the stored plugin order, and passes the colour settings to the decoder.
 * PlbTerminate writes the settings file back when a setting was changed (by the setters below or
 * by the settings dialog) and empties the environment. The settings file is replaced atomically:
 * a failed write leaves the old file as it was.
 *
 * The CDAZ files live in "Analyze" in the data folder ($TAMRIN_HOME/Analyze, else
 * $XDG_DATA_HOME/tamrin/Analyze, else ~/.local/share/tamrin/Analyze).
 */
#ifndef TAMLIB_ENVIRONMENT_H
#define TAMLIB_ENVIRONMENT_H

#include "tamlib/plb.h"

/* Bit of the plugin caps word: the user switched the plugin off. */
#define PLB_PLUGIN_NOUSE 0x10000u

/* Longest drive identity string (vendor, product, revision), terminator excluded. */
#define PLB_DRIVE_TEXT_MAX 63
/* Longest plugin file name, terminator excluded. */
#define PLB_PLUGIN_FILE_MAX 16

/* Builds the environment; 1 when it is ready (also when it already was: calls are counted and
 * each needs its PlbTerminate), 0 when it cannot be built (no memory). */
PLB_API int32_t PlbInitialize(void);
/* Ends one PlbInitialize; the last one writes the settings back if they changed and empties the
 * environment. 1, or 0 when the library was not started. */
PLB_API int32_t PlbTerminate(void);

/* The handle under which PlbLoadString knows the library's own string table. */
PLB_API void* PlbGetModule(void);

/* The selected drive index (-1 none); each non-null buffer (at least 64 bytes) receives the
 * remembered vendor, product and revision. */
PLB_API int32_t PlbGetCdDrive(char* vendor, char* product, char* revision);
/* Selects drive `index` (-1 none) and remembers its identity; 1, or 0 when there is no such
 * drive or its identity cannot be read. Marks the settings changed. */
PLB_API int32_t PlbSetCdDrive(int32_t index);

/* A plugin of the installed list: with index >= 0 the plugin at that position (its upper-case
 * file name copied to fileName, at least 17 bytes, when not null); with index -1 the plugin whose
 * file name equals fileName exactly. Text outs are cleared first and may be null: name (49
 * bytes), copyright, author, address (81 bytes each, from a fresh query of the plugin, empty when
 * it fails). caps: the caps word with PLB_PLUGIN_NOUSE. Returns the number of installed plugins,
 * or -1 when the index is out of range or the name is not listed. */
PLB_API int32_t PlbGetPluginInfo(int32_t index, char* fileName, char* name, uint16_t* version,
                                 uint16_t* subVersion, char* copyright, uint32_t* caps, char* author,
                                 char* address);
/* Moves the plugin at `from` to position `to` of the priority order (first = highest); 1, or 0
 * when either index is out of range. Marks the settings changed. */
PLB_API int32_t PlbMovePlugin(int32_t from, int32_t to);
/* Switches the plugin named fileName (exactly, upper case) on (use != 0) or off; 1, or 0 when it
 * is not listed. Marks the settings changed. */
PLB_API int32_t PlbSetPluginUse(const char* fileName, int32_t use);

/* Colour correction: luminosity, blue, red -128 to 127; gamma x 100, 0 to 800. PlbSetColor
 * passes them to the decoder (LbrSetColorModify); 1, or 0 when a value is out of range (nothing
 * changes). Marks the settings changed. */
PLB_API int32_t PlbSetColor(int32_t luminosity, int32_t blue, int32_t red, int32_t gamma);
PLB_API void PlbGetColor(int32_t* luminosity, int32_t* blue, int32_t* red, int32_t* gamma);

/* The CDAZ analysis modes, each 0 to 2: local CDAZ (0 ask, 1 adopt when adoptable, 2 always look
 * for a newer one on the server), server search (0 ask, 1 never, 2 always), upload (0 ask, 1
 * never, 2 always). PlbSetAnalyzeMode: 1, or 0 when a value is out of range. Marks the settings
 * changed. */
PLB_API int32_t PlbSetAnalyzeMode(int32_t localMode, int32_t serverMode, int32_t uploadMode);
PLB_API void PlbGetAnalyzeMode(int32_t* localMode, int32_t* serverMode, int32_t* uploadMode);

/* The CDAZ exchange server, "host" or "host:port" (port 80 when none is given); the empty text
 * switches the exchange off, which is the default. PlbSetServer: 1, or 0 when the library is not
 * started or the address is not a host name or IPv4 address (letters, digits, '.', '-', '_') with
 * an optional port 1 to 65535, at most 255 characters (null counts as empty). Marks the settings
 * changed. PlbGetServer copies the address into `address` (`capacity` bytes, cut to fit, always
 * ended by a zero; may be null) and returns its full length, 0 when the exchange is off. */
PLB_API int32_t PlbSetServer(const char* address);
PLB_API int32_t PlbGetServer(char* address, int32_t capacity);

/* Writes the settings file now; 1 when written. */
PLB_API int32_t PlbSaveEnviron(void);

/* 1 when the locale is Japanese (LC_ALL, else LC_CTYPE, else LANG: a name that starts with "ja"
 * or contains "JAPANESE" or "JPN"), else 0. */
PLB_API int32_t PlbGetLanguage(void);

/* Debug log: with logging on, appends the formatted text to "DEBUG.TXT" in the state folder
 * ($TAMRIN_HOME, else $XDG_STATE_HOME/tamrin, else ~/.local/state/tamrin), opening and closing
 * the file every time; fails silently. Returns 0. PlbSETDEBUG switches logging on (non-zero) or
 * off and returns the flag. */
PLB_API int32_t PlbDEBUG(const char* format, ...) __attribute__((format(printf, 1, 2)));
PLB_API int32_t PlbSETDEBUG(int32_t flag);

#endif
