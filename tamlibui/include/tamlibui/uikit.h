// The small visual kit the desktop programs and the library's own dialogs share: control numbers,
// tooltips, link buttons, placement helpers, the about box and the progress display of the
// remaining-time estimator. Texts come from libtamlib's string tables in the current language.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "tamlib/ui_port.h"
#include "tamlibui/export.h"

class QAbstractButton;
class QLabel;
class QProgressBar;
struct PlbProgress;

namespace tamlibui {

// ---- control numbers -------------------------------------------------------------------------

// Gives `widget` the control number `item`, by which the helpers below find it in its dialog.
TAMLIBUI_API void PlbSetItemId(QWidget* widget, int item);
// The descendant of `dialog` numbered `item`, or null.
TAMLIBUI_API QWidget* PlbGetItem(QWidget* dialog, int item);

// ---- tooltips --------------------------------------------------------------------------------

// The tooltips of one window. Static items (labels, frames) are known by their rectangle in the
// dialog, other items by their own widget; texts longer than kMaxWidth pixels are wrapped.
class TAMLIBUI_API PlbTooltip : public QObject
{
    Q_OBJECT
  public:
    static constexpr int kMaxWidth = 512;

    explicit PlbTooltip(QObject* parent = nullptr);

    // The text shown for a help event at `pos` (in `target`'s coordinates); empty for none.
    QString textAt(QWidget* target, const QPoint& pos) const;

    // Adds (or replaces) the tool of `item` in `dialog`: `widget` for a window item, else `rect`.
    void addTool(QWidget* dialog, int item, QWidget* widget, const QRect& rect, const QString& text,
                 intptr_t user);
    bool removeTool(QWidget* dialog, int item);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Tool
    {
        QPointer<QWidget> dialog;
        QPointer<QWidget> widget; // null for a tool known by its rectangle
        int item;
        QRect rect;
        QString text;
        intptr_t user;
    };

    std::vector<Tool> m_tools;
};

// Adds a tool for control `item` of `dialog` to `tooltip` (made, owned by the dialog, when null).
// `text` null takes the string of the number `item` from the string table as a tooltip
// (PlbTooltipText); `rect` null takes the static item's rectangle as it is at the time. Returns the tooltip
// object, or null when the dialog or the item does not exist or there is no text.
TAMLIBUI_API PlbTooltip* PlbAddTooltip(PlbTooltip* tooltip, const char* text, QWidget* dialog, int item,
                                       const QRect* rect = nullptr, intptr_t user = 0);
// Removes the tool of `item`; false when there was none.
TAMLIBUI_API bool PlbDelTooltip(PlbTooltip* tooltip, QWidget* dialog, int item);

// Wraps `text` into lines of at most `maxWidth` pixels in the tooltip font.
TAMLIBUI_API QString wrapTooltipText(const QString& text, int maxWidth = PlbTooltip::kMaxWidth);

// ---- link buttons ----------------------------------------------------------------------------

// Opens links; the desktop's URL handler unless replaced (tests record the URL instead).
using LinkOpener = std::function<bool(const QUrl&)>;
// Replaces the opener (an empty one restores the desktop's); returns the previous one.
TAMLIBUI_API LinkOpener setLinkOpener(LinkOpener opener);
// Opens an http, https or mailto URL; false (nothing opened) for any other or an invalid one.
TAMLIBUI_API bool openLink(const QUrl& url);

// Makes `button` a link: underlined font, hand cursor, blue text, flat; clicking it opens `url`
// (nothing when the URL is empty or invalid). False for a null button.
TAMLIBUI_API bool PlbSetLinkButton(QAbstractButton* button, const QUrl& url);
// The same for control `item` of `dialog`; false when it is not a button.
TAMLIBUI_API bool PlbSetLinkButton(QWidget* dialog, int item, const QUrl& url);

// ---- dropped files ---------------------------------------------------------------------------

// Makes `window` take files dropped on it: drags that carry URLs are accepted, and the local
// files of a drop go to `open`, in their order, once the drop's own event is over (opening may
// ask questions). The handler lives as long as the window.
TAMLIBUI_API void acceptDroppedFiles(QWidget* window, std::function<void(const QStringList&)> open);

// ---- placement -------------------------------------------------------------------------------

// Places `page` in its parent: low nibble 0 left, 1 right, other centred; high nibble 0 top,
// 0x10 bottom (4 pixels above the parent's lower edge), other centred. False without a parent.
TAMLIBUI_API bool PlbSetTabPagePos(QWidget* page, int alignment);
// The rectangle of control `item` in `dialog`'s coordinates; false (rect untouched) when missing.
TAMLIBUI_API bool PlbGetItemRect(QRect* rect, QWidget* dialog, int item);

// ---- about box -------------------------------------------------------------------------------

struct PlbAboutRecord
{
    QString title;   // window title; "About <product>" when empty
    QString product; // in a large face
    QString version; // bold
    QString text;
    QString homePage; // URL
    QString mail;     // address, opened as "mailto:<address>"
    QIcon icon;
};

// Control numbers of the about box's parts.
enum AboutItem : int
{
    kAboutIcon = 1,
    kAboutProduct,
    kAboutVersion,
    kAboutText,
    kAboutHomePage,
    kAboutMail,
    kAboutQtVersion,
    kAboutOk,
};

// The about box for `record` (parts the record leaves empty are hidden), not yet shown.
TAMLIBUI_API QDialog* PlbCreateAboutPanel(QWidget* owner, const PlbAboutRecord& record);
// Shows the about box modally; returns when it is closed.
TAMLIBUI_API int PlbAboutPanel(QWidget* owner, const PlbAboutRecord& record);

// ---- progress display ------------------------------------------------------------------------

// "Elapsed m:ss" and the remaining time of a long operation, with a bar; fed by the core's
// estimator (PlbBeginProgress/PlbSetProgress). Embeddable in the analysis and batch dialogs;
// the setters may be called from any thread, as long as the worker that calls them has stopped
// before the display is destroyed.
class TAMLIBUI_API ProgressDisplay : public QWidget
{
    Q_OBJECT
  public:
    explicit ProgressDisplay(QWidget* parent = nullptr);
    ~ProgressDisplay() override;

    // Starts a new estimator for `total` units updated every `step` units; false when it cannot.
    bool begin(uint32_t total, uint32_t step);
    // Records `value` and refreshes the texts.
    void setProgress(uint32_t value);
    // Frees the estimator; the texts stay.
    void end();

    // Shows the given times (seconds; estimate 0 = not known yet) and the bar at value of total.
    void showTimes(uint32_t elapsed, uint32_t estimate, uint32_t value, uint32_t total);

    // Shows the texts the analysis reports through the user-interface port: the count in the
    // bar, the elapsed time, the remaining time (being estimated while it is empty).
    void showState(const tamlib::ProgressState& state);

    QString elapsedText() const;
    QString remainingText() const;

    // The texts, as the display shows them.
    static QString formatElapsed(uint32_t seconds);
    static QString formatRemaining(uint32_t seconds);

  private:
    PlbProgress* m_estimator = nullptr;
    uint32_t m_total = 0;
    QLabel* m_elapsed;
    QLabel* m_remaining;
    QProgressBar* m_bar;
};

} // namespace tamlibui
