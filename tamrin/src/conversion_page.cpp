#include "conversion_page.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tamrin {

ConversionPage::ConversionPage(TamrinOptions& options, QWidget* parent)
    : QWidget(parent), m_options(options), m_summary(new QLabel)
{
    m_summary->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addStretch();
}

void ConversionPage::showEntries(const std::vector<StreamEntry*>& entries)
{
    m_summary->setText(entries.empty() ? QString() : tr("%n stream(s) selected", nullptr, int(entries.size())));
}

} // namespace tamrin
