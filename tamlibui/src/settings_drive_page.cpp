// The drive page: the drives of the drive table whose identity can be read (real drives and the
// disc images mounted), and the two access interfaces. Drives come and go while the dialog is
// open (an image unmounted, a drive unplugged): the list is read again every second and once more
// before the page is applied, so that only a drive that is still there is chosen.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

#include "discport/discport.h"
#include "settings_text.h"
#include "tamlib/environment.h"
#include "tamlibui/settings_dialog.h"

namespace tamlibui {

using detail::tableText;

namespace {

struct DriveLine
{
    int32_t index;
    QString text;
    bool operator==(const DriveLine&) const = default;
};

std::vector<DriveLine> readableDrives()
{
    std::vector<DriveLine> drives;
    const int32_t count = CdGetDriveNum();
    for (int32_t i = 0; i < count; ++i) {
        char vendor[64] = {}, product[64] = {}, revision[64] = {};
        int32_t adapter = 0, target = 0, lun = 0;
        if (!CdGetDriveInfo(i, &adapter, &target, &lun, vendor, product, revision))
            continue;
        drives.push_back({i, QString::asprintf("%d %s %s %s", i + 1, vendor, product, revision)});
    }
    return drives;
}

class DrivePage : public SettingsPage
{
  public:
    explicit DrivePage(QWidget* parent) : SettingsPage(parent)
    {
        m_list = new QComboBox(this);
        m_list->setToolTip(tableText(PLB_IDS_SET_DRIVE_LIST));
        m_list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        m_aspi = new QCheckBox(tableText(PLB_IDS_SET_USE_SG), this);
        m_spti = new QCheckBox(tableText(PLB_IDS_SET_USE_SR), this);
        m_inUse = new QLabel(this);

        const int32_t mask = CdSetUseInterface(-1);
        m_aspi->setChecked(mask > 0 && (mask & CD_USE_SG));
        m_spti->setChecked(mask > 0 && (mask & CD_USE_SR));
        m_aspi->setEnabled(CdIsUseAspi() == 1);
        m_spti->setEnabled(CdIsUseSpti() == 1);
        const int32_t used = CdGetUseInterface();
        m_inUse->setText(used == CD_USE_SG
                             ? tableText(PLB_IDS_SET_NOW_USED).replace("%s", tableText(PLB_IDS_SET_IFACE_SG))
                         : used == CD_USE_SR
                             ? tableText(PLB_IDS_SET_NOW_USED).replace("%s", tableText(PLB_IDS_SET_IFACE_SR))
                             : tableText(PLB_IDS_SET_NOT_USED));

        m_selected = PlbGetCdDrive(nullptr, nullptr, nullptr);
        refresh();

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_list);
        layout->addWidget(m_aspi);
        layout->addWidget(m_spti);
        layout->addWidget(m_inUse);
        layout->addStretch();

        connect(m_list, &QComboBox::activated, this, [this] {
            m_selected = m_list->currentData().toInt();
            emit changed();
        });
        connect(m_aspi, &QCheckBox::clicked, this, &SettingsPage::changed);
        connect(m_spti, &QCheckBox::clicked, this, &SettingsPage::changed);
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &DrivePage::refresh);
        timer->start(1000);
    }

    // Lists the drives again when the table changed; the chosen drive stays chosen while it is
    // there, and nothing is chosen once it has gone.
    void refresh()
    {
        std::vector<DriveLine> drives = readableDrives();
        if (drives == m_drives && m_list->count() > 0)
            return;
        m_drives = std::move(drives);
        const QSignalBlocker block(m_list);
        m_list->clear();
        int current = -1;
        for (const DriveLine& drive : m_drives) {
            if (drive.index == m_selected)
                current = m_list->count();
            m_list->addItem(drive.text, drive.index);
        }
        if (current < 0) {
            // The chosen drive has gone: choosing none is a change the user may confirm.
            if (m_selected >= 0)
                emit changed();
            m_selected = -1;
            m_list->addItem(tableText(PLB_IDS_SET_NO_DRIVE), -1);
            current = m_list->count() - 1;
        }
        m_list->setCurrentIndex(current);
    }

    void apply() override
    {
        refresh();
        if (m_selected < 0 || !PlbSetCdDrive(m_selected))
            PlbSetCdDrive(-1);
        const int32_t mask = (m_aspi->isChecked() ? CD_USE_SG : 0) | (m_spti->isChecked() ? CD_USE_SR : 0);
        if (mask != CdSetUseInterface(-1))
            CdSetUseInterface(mask);
    }

  private:
    QComboBox* m_list = nullptr;
    QCheckBox* m_aspi = nullptr;
    QCheckBox* m_spti = nullptr;
    QLabel* m_inUse = nullptr;
    std::vector<DriveLine> m_drives;
    int32_t m_selected = -1;
};

} // namespace

SettingsPage* createDrivePage(QWidget* parent)
{
    return new DrivePage(parent);
}

} // namespace tamlibui
