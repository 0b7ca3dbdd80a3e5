/*
 * libtamlib string tables and small text helpers.
 *
 * The tables are compiled in, in English and Japanese (UTF-8); the language follows the locale
 * (PlbGetLanguage, tamlib/environment.h). Texts are single-byte strings ending in a zero.
 */
#ifndef TAMLIB_STRINGS_H
#define TAMLIB_STRINGS_H

#include "tamlib/plb.h"

/* Longest string of the tables and of a formatted message, terminator included. */
#define PLB_STRING_MAX 1024

/* String ids of the library's table. */
#define PLB_IDS_AVI_NO_COMPRESSION 22 /* "All frames are un-compressed." */
#define PLB_IDS_AVI_VIDEO 23          /* "Video" */
#define PLB_IDS_AVI_AUDIO 24          /* "Audio" */
#define PLB_IDS_ERROR 31              /* message captions */
#define PLB_IDS_WARNING 32
#define PLB_IDS_INFORMATION 33
#define PLB_IDS_QUESTION 34
#define PLB_IDS_SOUND_NONE 105 /* status bar sound icons, by their picture ids */
#define PLB_IDS_SOUND_MONO 106
#define PLB_IDS_SOUND_STEREO 107
#define PLB_IDS_SOUND_MUSIC 116
#define PLB_IDS_CD_STATUS_1 201 /* CD layer status 1 to 3 (each text ends in a line break) */
#define PLB_IDS_CD_STATUS_2 202
#define PLB_IDS_CD_STATUS_3 203
#define PLB_IDS_CD_UNUSABLE 204    /* "CD-ROM cannot be used." */
#define PLB_IDS_CHOOSE_DRIVE 205   /* caption of the first-start drive choice */
#define PLB_IDS_SETTINGS_TITLE 206 /* "Set options (Tamlib)" */
#define PLB_IDS_PAGE_DRIVE 207     /* settings page titles */
#define PLB_IDS_PAGE_PLUGINS 208
#define PLB_IDS_PAGE_COLOR 209
#define PLB_IDS_PAGE_ANALYSIS 210
#define PLB_IDS_BUTTON_OK 221 /* answer names of the console and the message boxes */
#define PLB_IDS_BUTTON_CANCEL 222
#define PLB_IDS_BUTTON_ABORT 223
#define PLB_IDS_BUTTON_RETRY 224
#define PLB_IDS_BUTTON_IGNORE 225
#define PLB_IDS_BUTTON_YES 226
#define PLB_IDS_BUTTON_NO 227
#define PLB_IDS_CDAZ_REFUSED 230 /* a downloaded CDAZ is not used: "...: %s" with one of 231 to 236 */
#define PLB_IDS_CDAZ_NOT_ONE_FILE 231
#define PLB_IDS_CDAZ_INCOMPLETE 232
#define PLB_IDS_CDAZ_NO_STREAMS 233
#define PLB_IDS_CDAZ_OUTSIDE_DISC 234
#define PLB_IDS_CDAZ_OTHER_DISC 235
#define PLB_IDS_CDAZ_UNKNOWN_DISC 236
/* Texts of the disc and file analysis (captions, questions, warnings, adoption states). */
#define PLB_IDS_ANA_ADOPT_CAPTION 301
#define PLB_IDS_ANA_COMPLETED 302
#define PLB_IDS_ANA_INTERRUPTED 303
#define PLB_IDS_ANA_NO_PLUGIN_ROW 304
#define PLB_IDS_ANA_AGAIN_ROW 305
#define PLB_IDS_ANA_OK_ROW 306
#define PLB_IDS_ANA_SERVER_NEWER 307
#define PLB_IDS_ANA_SERVER_NONE_USE_LOCAL 308
#define PLB_IDS_ANA_ASK_SEARCH 309
#define PLB_IDS_ANA_SERVER_NOT_FOUND 310
#define PLB_IDS_ANA_LOCAL_FOUND 311
#define PLB_IDS_ANA_ASK_UPLOAD 312
#define PLB_IDS_ANA_READ_ERROR 313 /* one %u: the sector */
#define PLB_IDS_ANA_PROGRESS_CAPTION 314
#define PLB_IDS_ANA_THREAD_FAILED 315
#define PLB_IDS_ANA_NO_CD_PLUGIN 316
#define PLB_IDS_ANA_CHOICE_CAPTION 317
#define PLB_IDS_ANA_NO_STREAM 318
#define PLB_IDS_ANA_DONE_CAPTION 319
#define PLB_IDS_ANA_DONE_MESSAGE 320 /* one %d: the stream count */
#define PLB_IDS_ANA_NO_TOC 321
#define PLB_IDS_ANA_NO_MEMORY 322
#define PLB_IDS_ANA_NO_FILE_PLUGIN 323    /* one %s: the file */
#define PLB_IDS_ANA_REMAINING_HOURS 324   /* two %02u: hours, minutes */
#define PLB_IDS_ANA_REMAINING_SECONDS 325 /* one %02u */
#define PLB_IDS_ANA_REMAINING_MINUTES 326 /* two %02u: minutes, seconds */
/* The command-line tool's own prompts: the adoption answers (340 + AdoptAnswer), the stream count
 * of the adoption question (two %d: streams, valid streams; 344 for one stream, 345 for several)
 * and the prompt of a numbered choice (one %d: the number of items). */
#define PLB_IDS_CONSOLE_ADOPT 340
#define PLB_IDS_CONSOLE_SEARCH_SERVER 341
#define PLB_IDS_CONSOLE_ADOPT_LOCAL 342
#define PLB_IDS_CONSOLE_ANALYZE 343
#define PLB_IDS_CONSOLE_ONE_STREAM 344
#define PLB_IDS_CONSOLE_STREAMS 345
#define PLB_IDS_CONSOLE_CHOICE_PROMPT 346
/* The desktop port's dialog texts: the analysis dialogs' columns, buttons and fields, the AVI
 * codec choice (one %d each in 1917 and 1918: the counts). */
#define PLB_IDS_UI_PLUGIN_NAME 1900
#define PLB_IDS_UI_ANALYSIS 1901
#define PLB_IDS_UI_VERSION 1902
#define PLB_IDS_UI_STATUS 1903
#define PLB_IDS_UI_ADOPT 1904
#define PLB_IDS_UI_SEARCH_SERVER 1905
#define PLB_IDS_UI_ADOPT_LOCAL 1906
#define PLB_IDS_UI_ANALYZE 1907
#define PLB_IDS_UI_FILE 1908
#define PLB_IDS_UI_UP 1909
#define PLB_IDS_UI_DOWN 1910
#define PLB_IDS_UI_START 1911
#define PLB_IDS_UI_STOP 1912
#define PLB_IDS_UI_CD_TITLE 1913
#define PLB_IDS_UI_PREFIX 1914
#define PLB_IDS_UI_COMPLETE 1915
#define PLB_IDS_UI_TITLE 1916
#define PLB_IDS_UI_STREAMS 1917
#define PLB_IDS_UI_VALID_STREAMS 1918
#define PLB_IDS_UI_CODEC_CAPTION 1919
#define PLB_IDS_UI_COMPRESSOR 1920
#define PLB_IDS_UI_KEY_FRAME 1921
#define PLB_IDS_UI_FRAMES 1922
#define PLB_IDS_UI_QUALITY 1923
#define PLB_IDS_UI_DATA_RATE 1924
#define PLB_IDS_UI_KB_PER_SECOND 1925
#define PLB_IDS_UI_ELAPSED 1926
#define PLB_IDS_UI_PROGRESS 1927
#define PLB_IDS_PLAY_CONTROL 10000 /* tooltips of the 13 play controls: 10000 + control index */
#define PLB_IDS_PLAY_MODE 10013    /* play mode names: 10013 one stream, 10014 repeat, 10015 all */
#define PLB_IDS_FRAME_COUNTER 10016
#define PLB_IDS_PLAY_TIME 10017
#define PLB_IDS_TO_AVI 20011 /* conversion type names */
#define PLB_IDS_TO_WAVE 20012
#define PLB_IDS_TO_MIDI 20013
#define PLB_IDS_TO_BMP 20014
#define PLB_IDS_NO_CONVERSION 20019
#define PLB_IDS_TO_CSTR 20065
#define PLB_IDS_TO_MP3 20067
/* Messages of the conversion result codes (PlbConvertResultText): 20200 + code for codes 0 to 11,
 * then the output-file answers 1000 and 1001, the missing and incomplete MP3 encoder (20, 21)
 * and the text of any other code (one %d: the code). */
#define PLB_IDS_CONV_RESULT 20200
#define PLB_IDS_CONV_EXISTS 20220
#define PLB_IDS_CONV_OVERWRITE_CANCELED 20221
#define PLB_IDS_CONV_NO_ENCODER 20222
#define PLB_IDS_CONV_ENCODER_INCOMPLETE 20223
#define PLB_IDS_CONV_OTHER 20224
#define PLB_IDS_MP3_ERROR 21002 /* MP3 encoder errors 10 to 24: 20992 + error (21002 to 21016) */
#define PLB_IDS_BATCH_OVERWRITE_CAPTION 21100 /* the question of the batch's existing-file policy */
#define PLB_IDS_BATCH_OVERWRITE_QUESTION 21101 /* one %s: the output file */
/* The desktop kit's progress display and about box. */
#define PLB_IDS_KIT_ELAPSED 22100   /* one %s: "m:ss" */
#define PLB_IDS_KIT_ESTIMATING 22101 /* shown until the remaining time is known */
#define PLB_IDS_KIT_ABOUT_CAPTION 22102 /* one %s: the product */
#define PLB_IDS_KIT_HOME_PAGE 22103
#define PLB_IDS_KIT_MAIL 22104

/* Texts of the settings dialog's pages and of the two plug-in dialogs (22000 to 22040). */
#define PLB_IDS_SET_DRIVE_LIST 22000
#define PLB_IDS_SET_USE_SG 22001
#define PLB_IDS_SET_USE_SR 22002
#define PLB_IDS_SET_NOW_USED 22003
#define PLB_IDS_SET_NOT_USED 22004
#define PLB_IDS_SET_PLUGIN_NAME 22005
#define PLB_IDS_SET_PLUGIN_FILE 22006
#define PLB_IDS_SET_PLUGIN_VER 22007
#define PLB_IDS_SET_UP 22008
#define PLB_IDS_SET_DOWN 22009
#define PLB_IDS_SET_ABOUT 22010
#define PLB_IDS_SET_VERSION 22011
#define PLB_IDS_SET_LUMINOSITY 22012
#define PLB_IDS_SET_BLUE 22013
#define PLB_IDS_SET_RED 22014
#define PLB_IDS_SET_GAMMA 22015
#define PLB_IDS_SET_RESET 22016
#define PLB_IDS_SET_INITIALIZE 22017
#define PLB_IDS_SET_LOCAL_FOUND 22018
#define PLB_IDS_SET_LOCAL_FOUND_0 22019
#define PLB_IDS_SET_LOCAL_FOUND_1 22020
#define PLB_IDS_SET_LOCAL_FOUND_2 22021
#define PLB_IDS_SET_LOCAL_MISSING 22022
#define PLB_IDS_SET_LOCAL_MISSING_0 22023
#define PLB_IDS_SET_LOCAL_MISSING_1 22024
#define PLB_IDS_SET_LOCAL_MISSING_2 22025
#define PLB_IDS_SET_UPLOAD 22026
#define PLB_IDS_SET_UPLOAD_0 22027
#define PLB_IDS_SET_UPLOAD_1 22028
#define PLB_IDS_SET_UPLOAD_2 22029
#define PLB_IDS_SET_SERVER 22030
#define PLB_IDS_SET_SERVER_INVALID 22031
#define PLB_IDS_SET_INFO_CAPTION 22032
#define PLB_IDS_SET_CONFIGURE 22033
#define PLB_IDS_SET_CDAZ_VERSION 22034
#define PLB_IDS_SET_SELECT_CAPTION 22035
#define PLB_IDS_SET_JUDGE 22036
#define PLB_IDS_SET_NO_DRIVE 22037
#define PLB_IDS_SET_PREVIEW_NONE 22038
#define PLB_IDS_SET_IFACE_SG 22039
#define PLB_IDS_SET_IFACE_SR 22040

/* The string `id` of the library's table in the current language, or "" when the table has no
 * such id. module: null (or the handle of libtamlib itself); other modules have no table here and
 * give "". buffer: null for a shared buffer (overwritten by the next such call, not thread safe),
 * else at least PLB_STRING_MAX bytes. Returns the buffer used. */
PLB_API const char* PlbLoadString(void* module, char* buffer, uint32_t id);

/* Splits a command or settings line in place: the text from the first "//" on is dropped; tokens
 * are separated by blanks, tabs, CR, LF and the ideographic space U+3000 (UTF-8 E3 80 80); double
 * quotes keep blanks inside a token and are removed ("" is an empty token). The tokens are written
 * back into `line`, each ending in a zero, and at most `capacity` addresses are stored in `args`.
 * Returns the number stored. */
PLB_API int32_t PlbGetParam(char* line, int32_t capacity, char** args);

/* A byte count as a short text: above 0xFFFFF bytes "%d.%dMB", else with a non-zero KB part
 * "%d.%dKB", else "%dByte"; the tenths are the remainder's (x 10) >> 10, truncated. Writes at most
 * `capacity` bytes with the terminator; returns the text length, or -1 when nothing fits. */
PLB_API int32_t PlbFormatSizeText(uint32_t bytes, char* text, int32_t capacity);

/* Sets a dialog item's text through the user-interface port (tamlib/ui_port.h). */
PLB_API int32_t PlbSetItemText(void* dialog, int32_t item, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
PLB_API int32_t PlbSetItemSizeText(void* dialog, int32_t item, uint32_t bytes);

/* Turns a menu text into a tooltip in place: the first '&' is removed, then the first part in
 * parentheses, and the first tab becomes " (" with ")" added at the end. Returns `text`. The
 * text never grows by more than two bytes; the buffer must have room for them. */
PLB_API char* PlbTooltipText(char* text);

/* ---- remaining-time estimator ------------------------------------------------------------ */

#define PLB_PROGRESS_MAGIC 0x75D39017u

typedef struct PlbProgress PlbProgress;

/* An estimator for `total` units of work, updated at least every `step` units. Null when out of
 * memory. */
PLB_API PlbProgress* PlbBeginProgress(uint32_t total, uint32_t step);
/* Records progress `value`; returns the elapsed seconds and, with estimateSeconds, the estimated
 * total seconds as it stood before this update (0 until an estimate exists; the remaining time
 * is estimate - elapsed). 0 with an estimate of 0 for a null or ended estimator. */
PLB_API uint32_t PlbSetProgress(PlbProgress* progress, uint32_t value, uint32_t* estimateSeconds);
/* Frees the estimator; 1, or 0 for a null or ended one. */
PLB_API int32_t PlbEndProgress(PlbProgress* progress);

#endif
