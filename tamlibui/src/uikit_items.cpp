// Control numbers, tooltips, link buttons and the placement helpers.
#include <QAbstractButton>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QEvent>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QMutex>
#include <QTextLayout>
#include <QToolTip>

#include <cstring>

#include "tamlib/strings.h"
#include "tamlibui/uikit.h"

namespace tamlibui {

namespace {

const char* const kItemProperty = "tamrinItem";

QMutex g_openerLock;
LinkOpener g_opener;

// Items without a window of their own in the original dialogs: their tooltips belong to the
// dialog and are found by rectangle.
bool isStaticItem(const QWidget* widget)
{
    return qobject_cast<const QLabel*>(widget) || widget->metaObject() == &QFrame::staticMetaObject;
}

} // namespace

void PlbSetItemId(QWidget* widget, int item)
{
    if (widget)
        widget->setProperty(kItemProperty, item);
}

QWidget* PlbGetItem(QWidget* dialog, int item)
{
    if (!dialog)
        return nullptr;
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        const QVariant id = child->property(kItemProperty);
        if (id.isValid() && id.toInt() == item)
            return child;
    }
    return nullptr;
}

// ---- tooltips --------------------------------------------------------------------------------

PlbTooltip::PlbTooltip(QObject* parent) : QObject(parent) {}

void PlbTooltip::addTool(QWidget* dialog, int item, QWidget* widget, const QRect& rect, const QString& text,
                         intptr_t user)
{
    removeTool(dialog, item);
    m_tools.push_back(Tool{dialog, widget, item, rect, text, user});
    QWidget* watched = widget ? widget : dialog;
    watched->removeEventFilter(this);
    watched->installEventFilter(this);
    // Tooltips show whether or not the window is active.
    dialog->window()->setAttribute(Qt::WA_AlwaysShowToolTips);
}

bool PlbTooltip::removeTool(QWidget* dialog, int item)
{
    for (auto it = m_tools.begin(); it != m_tools.end(); ++it) {
        if (it->dialog == dialog && it->item == item) {
            m_tools.erase(it);
            return true;
        }
    }
    return false;
}

QString PlbTooltip::textAt(QWidget* target, const QPoint& pos) const
{
    for (const Tool& tool : m_tools) {
        if (!tool.dialog)
            continue;
        if (tool.widget) {
            if (tool.widget == target)
                return tool.text;
        } else if (tool.dialog == target) {
            QRect area = tool.rect;
            if (area.isNull())
                PlbGetItemRect(&area, tool.dialog, tool.item);
            if (area.contains(pos))
                return tool.text;
        }
    }
    return {};
}

bool PlbTooltip::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto* widget = static_cast<QWidget*>(watched);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = textAt(widget, help->pos());
    if (text.isEmpty())
        return QObject::eventFilter(watched, event);
    QToolTip::showText(help->globalPos(), wrapTooltipText(text), widget);
    return true;
}

QString wrapTooltipText(const QString& text, int maxWidth)
{
    QString wrapped;
    const QStringList paragraphs = text.split('\n');
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        if (p)
            wrapped += '\n';
        QTextLayout layout(paragraphs[p], QToolTip::font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        bool first = true;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(maxWidth);
            if (!first)
                wrapped += '\n';
            first = false;
            wrapped += paragraphs[p].mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return wrapped;
}

PlbTooltip* PlbAddTooltip(PlbTooltip* tooltip, const char* text, QWidget* dialog, int item, const QRect* rect,
                          intptr_t user)
{
    if (!dialog)
        return nullptr;
    QWidget* widget = PlbGetItem(dialog, item);
    if (!widget && !rect)
        return nullptr;
    QString tip;
    if (text) {
        tip = QString::fromUtf8(text);
    } else {
        char buffer[PLB_STRING_MAX + 2];
        PlbLoadString(nullptr, buffer, uint32_t(item));
        tip = QString::fromUtf8(PlbTooltipText(buffer));
    }
    if (tip.isEmpty())
        return nullptr;
    if (!tooltip)
        tooltip = new PlbTooltip(dialog);
    if (rect || (widget && isStaticItem(widget))) {
        // Without a rectangle the item's own is taken as it stands when the tip is asked for, so
        // that the tip follows the item when the layout moves it.
        tooltip->addTool(dialog, item, nullptr, rect ? *rect : QRect(), tip, user);
    } else {
        tooltip->addTool(dialog, item, widget, QRect(), tip, user);
    }
    return tooltip;
}

bool PlbDelTooltip(PlbTooltip* tooltip, QWidget* dialog, int item)
{
    return tooltip && tooltip->removeTool(dialog, item);
}

// ---- link buttons ----------------------------------------------------------------------------

LinkOpener setLinkOpener(LinkOpener opener)
{
    QMutexLocker lock(&g_openerLock);
    LinkOpener previous = std::move(g_opener);
    g_opener = std::move(opener);
    return previous;
}

bool openLink(const QUrl& url)
{
    // Link texts may come from plugins and downloaded files: only web pages and mail addresses
    // are handed to the desktop, never a local file or program a handler would run.
    const QString scheme = url.scheme().toLower();
    const bool web = (scheme == "http" || scheme == "https") && !url.host().isEmpty();
    const bool mail = scheme == "mailto" && !url.path().isEmpty();
    if (!url.isValid() || !(web || mail))
        return false;
    LinkOpener opener;
    {
        QMutexLocker lock(&g_openerLock);
        opener = g_opener;
    }
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}

bool PlbSetLinkButton(QAbstractButton* button, const QUrl& url)
{
    if (!button)
        return false;
    QFont font = button->font();
    font.setUnderline(true);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, QColor(0, 0, 255));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    button->setPalette(palette);
    button->setStyleSheet("QAbstractButton { color: #0000ff; border: none; background: transparent;"
                          " text-align: left; padding: 0px; }");
    button->setToolTip(url.toDisplayString());
    // A second call replaces the target instead of opening both.
    QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
    QObject::connect(button, &QAbstractButton::clicked, button, [url] { openLink(url); });
    return true;
}

bool PlbSetLinkButton(QWidget* dialog, int item, const QUrl& url)
{
    return PlbSetLinkButton(qobject_cast<QAbstractButton*>(PlbGetItem(dialog, item)), url);
}

// ---- placement -------------------------------------------------------------------------------

bool PlbSetTabPagePos(QWidget* page, int alignment)
{
    if (!page || !page->parentWidget())
        return false;
    const QSize outer = page->parentWidget()->size();
    const QSize size = page->size();
    int x;
    switch (alignment & 0x0F) {
    case 0x00:
        x = 0;
        break;
    case 0x01:
        x = outer.width() - size.width();
        break;
    default:
        x = (outer.width() - size.width()) / 2;
        break;
    }
    int y;
    switch (alignment & 0xF0) {
    case 0x00:
        y = 0;
        break;
    case 0x10:
        y = outer.height() - size.height() - 4;
        break;
    default:
        y = (outer.height() - size.height()) / 2;
        break;
    }
    page->move(x, y);
    return true;
}

bool PlbGetItemRect(QRect* rect, QWidget* dialog, int item)
{
    QWidget* widget = PlbGetItem(dialog, item);
    if (!rect || !widget)
        return false;
    *rect = QRect(widget->mapTo(dialog, QPoint(0, 0)), widget->size());
    return true;
}

// ---- dropped files ---------------------------------------------------------------------------

namespace {

class DropTaker : public QObject
{
  public:
    DropTaker(QWidget* window, std::function<void(const QStringList&)> open)
        : QObject(window), m_open(std::move(open))
    {
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::DragEnter) {
            auto* enter = static_cast<QDragEnterEvent*>(event);
            if (enter->mimeData()->hasUrls())
                enter->acceptProposedAction();
            return true;
        }
        if (event->type() != QEvent::Drop)
            return QObject::eventFilter(watched, event);
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList paths;
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
        drop->acceptProposedAction();
        if (!paths.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, paths] { m_open(paths); }, Qt::QueuedConnection);
        return true;
    }

  private:
    std::function<void(const QStringList&)> m_open;
};

} // namespace

void acceptDroppedFiles(QWidget* window, std::function<void(const QStringList&)> open)
{
    if (!window || !open)
        return;
    window->setAcceptDrops(true);
    window->installEventFilter(new DropTaker(window, std::move(open)));
}

} // namespace tamlibui
