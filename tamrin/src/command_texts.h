// The main program's own string table: the menu text and the status-bar help of every command
// (under the command's id), the menu titles and the messages of the commands, in English and
// Japanese. The language is the library's (PlbGetLanguage).
#pragma once

#include <QString>

namespace tamrin {

// Menu titles.
enum class MenuTitle
{
    File,
    Edit,
    Filter,
    Conversion,
    Preview,
    PreviewSize,
    Drive,
    Folders,
    Help,
    Toolbar
};

// Messages of the commands (some with %1 / %2 for QString::arg).
enum class CommandMessage
{
    OptionsInitialized,
    NotSupported,
    ManualNotOpened, // %1 the manual, %2 the reason
    OpenOnCdrom,     // %1 the file
    FolderNotOpened, // %1 the folder
    LinkNotOpened,   // %1 the address
    EditTitleCaption,
    EditTitleLabel,
    TitleNotSaved, // %1 the reason
    NoDrive,
    CloseDisc // the toggle's text while a disc is open
};

// The menu text of command `id` (empty for an id not in the table).
QString commandText(int id);
// The status-bar help of command `id`.
QString commandHelp(int id);
// The web address a link command (40043 to 40047) opens; empty for any other id.
QString commandLink(int id);
QString menuTitle(MenuTitle title);
QString commandMessage(CommandMessage message);

} // namespace tamrin
