// The settings dialog: a tab per page, the library's own four pages (drive, plug-ins, colour, CDAZ
// analysis) and any pages of the caller. OK stays disabled until a page reports a change; OK
// applies every page in tab order through the library's setters, Cancel or closing applies none.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "tamlib/player.h"
#include "tamlibui/export.h"

class QDialogButtonBox;
class QTabWidget;

namespace tamlibui {

// A page of the settings dialog. The dialog calls validate() on every page before it applies any,
// so that one refused value leaves every setting as it was, then apply() in tab order.
class TAMLIBUI_API SettingsPage : public QWidget
{
    Q_OBJECT
  public:
    using QWidget::QWidget;
    // An empty text when the page can be applied, else the message shown to the user.
    virtual QString validate() { return {}; }
    virtual void apply() = 0;

  signals:
    // The user changed something on the page.
    void changed();
};

// The kinds of the library's own pages; any other kind is a page of the caller.
enum SettingsPageKind : int32_t
{
    kDrivePage = 0,
    kPluginPage = 1,
    kColorPage = 3,
    kAnalysisPage = 4,
};

// One page of PlbSetEnviron. For the library's kinds `create` is ignored and a null title means
// the page's own title. The colour page shows a preview picture of the first frame of
// `previewFile` (a movie a plug-in reads) when it is given, and has a `player` that is not
// playing draw its current picture again with each new colour setting.
struct TAMLIBUI_API SettingsPageSpec
{
    int32_t kind = kDrivePage;
    QString title;
    std::function<SettingsPage*(QWidget* parent)> create;
    QString previewFile;
    Player* player = nullptr;
};

class TAMLIBUI_API SettingsDialog : public QDialog
{
    Q_OBJECT
  public:
    // A null caption gives "Set options (Tamlib)".
    SettingsDialog(QWidget* owner, const QString& caption, std::span<const SettingsPageSpec> pages);

    QTabWidget* tabs() const { return m_tabs; }
    QDialogButtonBox* buttons() const { return m_buttons; }
    SettingsPage* page(int index) const;

    void accept() override;

  private:
    QTabWidget* m_tabs = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    std::vector<SettingsPage*> m_pages;
};

// The library's own pages.
TAMLIBUI_API SettingsPage* createDrivePage(QWidget* parent);
TAMLIBUI_API SettingsPage* createPluginPage(QWidget* parent);
TAMLIBUI_API SettingsPage* createColorPage(QWidget* parent, const QString& previewFile,
                                           Player* player = nullptr);
TAMLIBUI_API SettingsPage* createAnalysisPage(QWidget* parent);

// The four pages of the library, in their usual order.
TAMLIBUI_API std::vector<SettingsPageSpec> standardSettingsPages(const QString& previewFile = {});

} // namespace tamlibui

// Shows the settings dialog modally; 1 after OK, 0 after Cancel or closing.
TAMLIBUI_API int32_t PlbSetEnviron(QWidget* owner, const QString& caption,
                                   std::span<const tamlibui::SettingsPageSpec> pages);
