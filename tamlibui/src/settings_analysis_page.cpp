// The CDAZ analysis page: the three analysis modes as option groups and the exchange server's
// address. An address the library refuses keeps the dialog open with nothing applied.
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <array>

#include "settings_text.h"
#include "tamlib/environment.h"
#include "tamlibui/settings_dialog.h"

namespace tamlibui {

using detail::tableText;

namespace {

// A host name or IPv4 address with an optional port 1 to 65535, at most 255 characters: the
// rule the library applies when it stores the address.
bool plausibleServer(const QString& address)
{
    if (address.isEmpty())
        return true;
    if (address.size() > 255)
        return false;
    const qsizetype colon = address.indexOf(':');
    const QString host = colon < 0 ? address : address.left(colon);
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '.' && c != '-' && c != '_')
            return false;
    }
    if (colon < 0)
        return true;
    const QString port = address.mid(colon + 1);
    bool number = false;
    const int value = port.toInt(&number);
    return number && !port.startsWith('+') && !port.startsWith('-') && value >= 1 && value <= 65535;
}

class AnalysisPage : public SettingsPage
{
  public:
    explicit AnalysisPage(QWidget* parent) : SettingsPage(parent)
    {
        static constexpr uint32_t kGroups[3] = {PLB_IDS_SET_LOCAL_FOUND, PLB_IDS_SET_LOCAL_MISSING,
                                                PLB_IDS_SET_UPLOAD};
        int32_t modes[3] = {0, 0, 0};
        PlbGetAnalyzeMode(&modes[0], &modes[1], &modes[2]);
        auto* layout = new QVBoxLayout(this);
        for (int g = 0; g < 3; ++g) {
            auto* box = new QGroupBox(tableText(kGroups[g]), this);
            auto* boxLayout = new QVBoxLayout(box);
            m_groups[g] = new QButtonGroup(this);
            for (int mode = 0; mode < 3; ++mode) {
                auto* option = new QRadioButton(tableText(kGroups[g] + 1 + uint32_t(mode)), box);
                option->setChecked(mode == modes[g]);
                m_groups[g]->addButton(option, mode);
                boxLayout->addWidget(option);
            }
            connect(m_groups[g], &QButtonGroup::idClicked, this, &SettingsPage::changed);
            layout->addWidget(box);
        }
        char server[256] = {};
        PlbGetServer(server, sizeof server);
        m_server = new QLineEdit(QString::fromUtf8(server), this);
        m_server->setMaxLength(255);
        layout->addWidget(new QLabel(tableText(PLB_IDS_SET_SERVER), this));
        layout->addWidget(m_server);
        layout->addStretch();
        connect(m_server, &QLineEdit::textEdited, this, &SettingsPage::changed);
    }

    QString validate() override
    {
        const QString address = m_server->text().trimmed();
        if (plausibleServer(address))
            return {};
        return tableText(PLB_IDS_SET_SERVER_INVALID).replace("%s", address);
    }

    void apply() override
    {
        PlbSetAnalyzeMode(mode(0), mode(1), mode(2));
        PlbSetServer(m_server->text().trimmed().toUtf8().constData());
    }

  private:
    int32_t mode(int group) const { return std::max(0, m_groups[group]->checkedId()); }

    std::array<QButtonGroup*, 3> m_groups{};
    QLineEdit* m_server = nullptr;
};

} // namespace

SettingsPage* createAnalysisPage(QWidget* parent)
{
    return new AnalysisPage(parent);
}

} // namespace tamlibui
