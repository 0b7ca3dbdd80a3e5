// The about box and the progress display of the remaining-time estimator.
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "tamlibui/library_info.h"
#include "tamlibui/uikit.h"

namespace tamlibui {

namespace {

QString tableText(uint32_t id)
{
    char buffer[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, buffer, id));
}

// A string of the table with printf arguments (the table's texts take only %u and %s).
template <typename... Args> QString tableFormat(uint32_t id, Args... args)
{
    char format[PLB_STRING_MAX];
    char text[PLB_STRING_MAX];
    PlbLoadString(nullptr, format, id);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, format, args...);
#pragma GCC diagnostic pop
    return QString::fromUtf8(text);
}

QLabel* addLabel(QWidget* dialog, QLayout* layout, int item, const QString& text)
{
    auto* label = new QLabel(text, dialog);
    PlbSetItemId(label, item);
    layout->addWidget(label);
    label->setVisible(!text.isEmpty());
    return label;
}

QPushButton* addLink(QWidget* dialog, QGridLayout* grid, int row, int item, uint32_t captionId,
                     const QString& shown, const QUrl& url)
{
    auto* caption = new QLabel(tableText(captionId), dialog);
    auto* button = new QPushButton(shown, dialog);
    PlbSetItemId(button, item);
    PlbSetLinkButton(button, url);
    grid->addWidget(caption, row, 0);
    grid->addWidget(button, row, 1, Qt::AlignLeft);
    caption->setVisible(!shown.isEmpty());
    button->setVisible(!shown.isEmpty());
    return button;
}

} // namespace

// ---- about box -------------------------------------------------------------------------------

QDialog* PlbCreateAboutPanel(QWidget* owner, const PlbAboutRecord& record)
{
    auto* dialog = new QDialog(owner);
    dialog->setWindowTitle(!record.title.isEmpty()
                               ? record.title
                               : tableFormat(PLB_IDS_KIT_ABOUT_CAPTION, record.product.toUtf8().constData()));

    auto* outer = new QHBoxLayout(dialog);
    auto* icon = new QLabel(dialog);
    PlbSetItemId(icon, kAboutIcon);
    if (!record.icon.isNull())
        icon->setPixmap(record.icon.pixmap(64, 64));
    icon->setVisible(!record.icon.isNull());
    outer->addWidget(icon, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    outer->addLayout(column, 1);
    QLabel* product = addLabel(dialog, column, kAboutProduct, record.product);
    QFont large("Impact");
    large.setPointSizeF(product->font().pointSizeF() * 2.2);
    product->setFont(large);
    QLabel* version = addLabel(dialog, column, kAboutVersion, record.version);
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    QLabel* text = addLabel(dialog, column, kAboutText, record.text);
    text->setWordWrap(true);
    text->setMinimumWidth(320);

    auto* links = new QGridLayout;
    links->setColumnStretch(1, 1);
    column->addLayout(links);
    addLink(dialog, links, 0, kAboutHomePage, PLB_IDS_KIT_HOME_PAGE, record.homePage, QUrl(record.homePage));
    addLink(dialog, links, 1, kAboutMail, PLB_IDS_KIT_MAIL, record.mail,
            record.mail.isEmpty() ? QUrl() : QUrl(QStringLiteral("mailto:%1").arg(record.mail)));

    QLabel* qt = addLabel(dialog, column, kAboutQtVersion, QString::fromStdString(qtVersionLine()));
    qt->setEnabled(false);

    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(tableText(PLB_IDS_BUTTON_OK), QDialogButtonBox::AcceptRole);
    PlbSetItemId(ok, kAboutOk);
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    column->addWidget(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    return dialog;
}

int PlbAboutPanel(QWidget* owner, const PlbAboutRecord& record)
{
    return runOnGuiThread([&] {
        QDialog* dialog = PlbCreateAboutPanel(owner, record);
        const int result = dialog->exec();
        delete dialog;
        return result;
    });
}

// ---- progress display ------------------------------------------------------------------------

ProgressDisplay::ProgressDisplay(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    layout->addWidget(m_bar);
    auto* times = new QHBoxLayout;
    m_elapsed = new QLabel(formatElapsed(0), this);
    m_remaining = new QLabel(tableText(PLB_IDS_KIT_ESTIMATING), this);
    m_remaining->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    times->addWidget(m_elapsed);
    times->addStretch(1);
    times->addWidget(m_remaining);
    layout->addLayout(times);
}

ProgressDisplay::~ProgressDisplay()
{
    PlbEndProgress(m_estimator);
}

bool ProgressDisplay::begin(uint32_t total, uint32_t step)
{
    return runOnGuiThread([&] {
        PlbEndProgress(m_estimator);
        m_estimator = PlbBeginProgress(total, step ? step : 1);
        m_total = total;
        showTimes(0, 0, 0, total);
        return m_estimator != nullptr;
    });
}

void ProgressDisplay::setProgress(uint32_t value)
{
    runOnGuiThread([&] {
        if (!m_estimator)
            return;
        uint32_t estimate = 0;
        const uint32_t elapsed = PlbSetProgress(m_estimator, value, &estimate);
        showTimes(elapsed, estimate, value, m_total);
    });
}

void ProgressDisplay::end()
{
    runOnGuiThread([&] {
        PlbEndProgress(m_estimator);
        m_estimator = nullptr;
    });
}

void ProgressDisplay::showTimes(uint32_t elapsed, uint32_t estimate, uint32_t value, uint32_t total)
{
    runOnGuiThread([&] {
        m_elapsed->setText(formatElapsed(elapsed));
        // The estimate lags behind the clock for a moment: it is reached, not passed.
        m_remaining->setText(estimate ? formatRemaining(estimate > elapsed ? estimate - elapsed : 0)
                                      : tableText(PLB_IDS_KIT_ESTIMATING));
        const uint64_t permille = total ? std::min<uint64_t>(value, total) * 1000ull / total : 0;
        m_bar->setValue(int(permille));
        m_bar->setFormat(QStringLiteral("%p%"));
    });
}

void ProgressDisplay::showState(const tamlib::ProgressState& state)
{
    runOnGuiThread([&] {
        m_elapsed->setText(tableFormat(PLB_IDS_KIT_ELAPSED, state.elapsed.c_str()));
        m_remaining->setText(state.remaining.empty() ? tableText(PLB_IDS_KIT_ESTIMATING)
                                                     : QString::fromStdString(state.remaining));
        const uint64_t done = std::min(state.done, state.total);
        m_bar->setValue(state.total ? int(done * 1000 / state.total) : 0);
        m_bar->setFormat(state.count.empty() ? QStringLiteral("%p%") : QString::fromStdString(state.count));
    });
}

QString ProgressDisplay::elapsedText() const
{
    return m_elapsed->text();
}

QString ProgressDisplay::remainingText() const
{
    return m_remaining->text();
}

QString ProgressDisplay::formatElapsed(uint32_t seconds)
{
    char clock[32];
    std::snprintf(clock, sizeof clock, "%u:%02u", seconds / 60, seconds % 60);
    return tableFormat(PLB_IDS_KIT_ELAPSED, clock);
}

// Rounded up as the analysis dialog does: 5 seconds in the last minute, 10 seconds below an hour.
QString ProgressDisplay::formatRemaining(uint32_t seconds)
{
    if (seconds > 3600)
        return tableFormat(PLB_IDS_ANA_REMAINING_HOURS, seconds / 3600, seconds % 3600 / 60);
    if (seconds <= 60)
        return tableFormat(PLB_IDS_ANA_REMAINING_SECONDS, (seconds + 4) / 5 * 5);
    const uint32_t rounded = (seconds + 9) / 10 * 10;
    return tableFormat(PLB_IDS_ANA_REMAINING_MINUTES, rounded / 60, rounded % 60);
}

} // namespace tamlibui
