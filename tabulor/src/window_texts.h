// The editor window's own texts (menus, columns, panels), in English and in Japanese, chosen by
// the library's language (PlbGetLanguage). The texts of the session's questions and refusals are
// the session's.
#pragma once

#include <QString>

namespace tabulor {

struct WindowTexts
{
    const char* fileMenu;
    const char* editMenu;
    const char* helpMenu;
    // Commands; the accelerators are set apart from the labels.
    const char* open;
    const char* takeIn; // the open command in system mode
    const char* close;
    const char* save;
    const char* saveAs;
    const char* saveAll;
    const char* saveToAnalyze;
    const char* saveAllToAnalyze;
    const char* remove;
    const char* exit;
    const char* show;
    const char* hide;
    const char* rename;
    const char* selectAll;
    const char* selectReverse;
    const char* pluginInfo;
    const char* settings;
    const char* about;
    // File dialogs.
    const char* openCaption;
    const char* saveCaption;
    const char* cdazFilter;
    const char* allFilter;
    const char* settingsCaption;
    // The selector bar.
    const char* cdaz;
    const char* cdTitle;
    const char* prefix;
    // The stream list's columns, in order.
    const char* columns[7];
    // The plugin panel's columns, in order, and its buttons.
    const char* pluginColumns[6];
    const char* up;
    const char* down;
    // The detail panel's labels.
    const char* detailTitle;
    const char* detailType;
    const char* detailStart;
    const char* detailSectors;
    const char* detailTime;
    const char* detailFrames;
    const char* detailFrameSize;
    const char* detailFrameRate;
    const char* detailChannels;
    const char* detailBits;
    const char* detailRate;
    const char* detailDisplay;
    const char* detailStatus;
    const char* detailPlugin;
    const char* aboutText;
};

const WindowTexts& windowTexts();

// A text of the table as a QString (the tables are UTF-8).
inline QString qtext(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace tabulor
