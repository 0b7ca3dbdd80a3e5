// The settings container: one tab per page, OK enabled by the first change, every page checked
// before any is applied.
#include "tamlibui/settings_dialog.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings_text.h"
#include "tamlibui/gui_thread.h"

namespace tamlibui {

using detail::tableText;

SettingsDialog::SettingsDialog(QWidget* owner, const QString& caption,
                               std::span<const SettingsPageSpec> pages)
    : QDialog(owner)
{
    setWindowTitle(caption.isNull() ? tableText(PLB_IDS_SETTINGS_TITLE) : caption);
    m_tabs = new QTabWidget(this);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText(tableText(PLB_IDS_BUTTON_OK));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(tableText(PLB_IDS_BUTTON_CANCEL));
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

    for (const SettingsPageSpec& spec : pages) {
        SettingsPage* page = nullptr;
        uint32_t titleId = 0;
        switch (spec.kind) {
        case kDrivePage:
            page = createDrivePage(m_tabs);
            titleId = PLB_IDS_PAGE_DRIVE;
            break;
        case kPluginPage:
            page = createPluginPage(m_tabs);
            titleId = PLB_IDS_PAGE_PLUGINS;
            break;
        case kColorPage:
            page = createColorPage(m_tabs, spec.previewFile, spec.player);
            titleId = PLB_IDS_PAGE_COLOR;
            break;
        case kAnalysisPage:
            page = createAnalysisPage(m_tabs);
            titleId = PLB_IDS_PAGE_ANALYSIS;
            break;
        default:
            if (spec.create)
                page = spec.create(m_tabs);
            break;
        }
        if (!page)
            continue;
        const QString title = !spec.title.isNull() ? spec.title : titleId ? tableText(titleId) : QString();
        m_tabs->addTab(page, title);
        m_pages.push_back(page);
        connect(page, &SettingsPage::changed, this,
                [this] { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(true); });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);
}

SettingsPage* SettingsDialog::page(int index) const
{
    return index >= 0 && size_t(index) < m_pages.size() ? m_pages[size_t(index)] : nullptr;
}

void SettingsDialog::accept()
{
    if (!m_buttons->button(QDialogButtonBox::Ok)->isEnabled())
        return;
    // A refused value on any page keeps the dialog open with nothing applied.
    for (size_t i = 0; i < m_pages.size(); ++i) {
        const QString problem = m_pages[i]->validate();
        if (!problem.isEmpty()) {
            m_tabs->setCurrentIndex(int(i));
            QMessageBox::warning(this, tableText(PLB_IDS_WARNING), problem);
            return;
        }
    }
    for (SettingsPage* page : m_pages)
        page->apply();
    QDialog::accept();
}

std::vector<SettingsPageSpec> standardSettingsPages(const QString& previewFile)
{
    std::vector<SettingsPageSpec> pages(4);
    pages[0].kind = kDrivePage;
    pages[1].kind = kPluginPage;
    pages[2].kind = kColorPage;
    pages[2].previewFile = previewFile;
    pages[3].kind = kAnalysisPage;
    return pages;
}

} // namespace tamlibui

int32_t PlbSetEnviron(QWidget* owner, const QString& caption,
                      std::span<const tamlibui::SettingsPageSpec> pages)
{
    // Callers on other threads (the library's first-start drive choice) wait for the GUI thread.
    return tamlibui::runOnGuiThread([&]() -> int32_t {
        tamlibui::SettingsDialog dialog(owner, caption, pages);
        return dialog.exec() == QDialog::Accepted ? 1 : 0;
    });
}
