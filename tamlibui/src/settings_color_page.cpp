// The colour page: luminosity, blue, red and gamma sliders, the gamma curve, and a preview picture
// decoded again with the decoder's colour tables whenever a value settles (a step of the keyboard
// or the page, the end of a drag, Reset, Initialize). The decoder's tables are global: when the
// page goes away they are rebuilt from the stored settings, which undoes a preview after Cancel.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <array>
#include <cmath>

#include "settings_preview.h"
#include "settings_text.h"
#include "streamkit/lbr.h"
#include "tamlib/environment.h"
#include "tamlib/player.h"
#include "tamlibui/settings_dialog.h"

namespace tamlibui {

using detail::tableText;

namespace {

// Black panel, grey diagonal, and the yellow curve y = 255 (x / 255) ^ (100 / gamma).
class GammaCurve : public QWidget
{
  public:
    using QWidget::QWidget;
    void setGamma(int gamma)
    {
        m_gamma = gamma;
        update();
    }
    QSize sizeHint() const override { return {128, 128}; }

  protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        const int w = width() - 1, h = height() - 1;
        painter.setPen(QColor(100, 100, 100));
        painter.drawLine(0, h, w, 0);
        painter.setPen(Qt::yellow);
        const int step = std::max(1, 256 / std::max(1, width()));
        QPointF previous(0, h);
        for (int x = 0; x <= 255; x += step) {
            const double y =
                m_gamma == 0 ? (x == 255 ? 255.0 : 0.0) : 255.0 * std::pow(x / 255.0, 100.0 / m_gamma);
            const QPointF point(x * w / 255.0, h - y * h / 255.0);
            painter.drawLine(previous, point);
            previous = point;
        }
    }

  private:
    int m_gamma = 100;
};

class ColorPage : public SettingsPage
{
  public:
    ColorPage(QWidget* parent, const QString& previewFile, Player* player)
        : SettingsPage(parent), m_previewFile(previewFile), m_player(player)
    {
        static constexpr uint32_t kTitles[4] = {PLB_IDS_SET_LUMINOSITY, PLB_IDS_SET_BLUE, PLB_IDS_SET_RED,
                                                PLB_IDS_SET_GAMMA};
        auto* grid = new QGridLayout;
        for (int i = 0; i < 4; ++i) {
            const bool gamma = i == 3;
            m_sliders[i] = new QSlider(Qt::Horizontal, this);
            m_sliders[i]->setRange(gamma ? 0 : -128, gamma ? 800 : 127);
            m_sliders[i]->setPageStep(gamma ? 20 : 10);
            m_sliders[i]->setMinimumWidth(160);
            m_values[i] = new QLabel(this);
            m_values[i]->setMinimumWidth(m_values[i]->fontMetrics().horizontalAdvance("-128.00"));
            grid->addWidget(new QLabel(tableText(kTitles[i]), this), i, 0);
            grid->addWidget(m_sliders[i], i, 1);
            grid->addWidget(m_values[i], i, 2);
        }
        m_curve = new GammaCurve(this);
        m_curve->setFixedSize(128, 128);
        m_preview = new QLabel(this);
        m_preview->setAlignment(Qt::AlignCenter);
        m_preview->setMinimumSize(160, 120);
        auto* reset = new QPushButton(tableText(PLB_IDS_SET_RESET), this);
        auto* initialize = new QPushButton(tableText(PLB_IDS_SET_INITIALIZE), this);

        auto* buttons = new QHBoxLayout;
        buttons->addWidget(reset);
        buttons->addWidget(initialize);
        buttons->addStretch();
        auto* pictures = new QHBoxLayout;
        pictures->addWidget(m_curve, 0, Qt::AlignTop);
        pictures->addWidget(m_preview, 1);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(grid);
        layout->addLayout(pictures, 1);
        layout->addLayout(buttons);

        loadStored();
        for (QSlider* slider : m_sliders) {
            connect(slider, &QSlider::valueChanged, this, [this, slider] {
                showValues();
                emit changed();
                if (!slider->isSliderDown())
                    passToDecoder();
            });
            connect(slider, &QSlider::sliderReleased, this, &ColorPage::passToDecoder);
        }
        connect(reset, &QPushButton::clicked, this, [this] {
            loadStored();
            emit changed();
        });
        connect(initialize, &QPushButton::clicked, this, [this] {
            setValues({0, 0, 0, 100});
            emit changed();
        });
    }

    ~ColorPage() override
    {
        int32_t y = 0, cb = 0, cr = 0, gamma = 100;
        PlbGetColor(&y, &cb, &cr, &gamma);
        LbrSetColorModify(y, cb, cr, gamma);
    }

    void apply() override
    {
        PlbSetColor(m_sliders[0]->value(), m_sliders[1]->value(), m_sliders[2]->value(),
                    m_sliders[3]->value());
    }

  private:
    void loadStored()
    {
        int32_t y = 0, cb = 0, cr = 0, gamma = 100;
        PlbGetColor(&y, &cb, &cr, &gamma);
        setValues({y, cb, cr, gamma});
    }

    // Sets all four sliders, then shows and previews the result once.
    void setValues(const std::array<int, 4>& values)
    {
        for (int i = 0; i < 4; ++i) {
            const QSignalBlocker block(m_sliders[i]);
            m_sliders[i]->setValue(values[size_t(i)]);
        }
        showValues();
        passToDecoder();
    }

    void showValues()
    {
        for (int i = 0; i < 3; ++i)
            m_values[i]->setText(QString::number(m_sliders[i]->value()));
        const int gamma = m_sliders[3]->value();
        m_values[3]->setText(detail::versionText(gamma));
        m_curve->setGamma(gamma);
    }

    void passToDecoder()
    {
        LbrSetColorModify(m_sliders[0]->value(), m_sliders[1]->value(), m_sliders[2]->value(),
                          m_sliders[3]->value());
        redrawPlayer();
        const QImage frame = detail::decodePreviewFrame(m_previewFile);
        if (frame.isNull())
            m_preview->setText(tableText(PLB_IDS_SET_PREVIEW_NONE));
        else
            m_preview->setPixmap(QPixmap::fromImage(frame));
    }

    // A player that is not playing shows its picture again, decoded with the new tables: it is
    // moved to where it stands; a stopped player is left stopped.
    void redrawPlayer()
    {
        if (!m_player)
            return;
        const uint16_t status = PlbGetPlayerStatus(m_player);
        if (status != PLB_STATE_PAUSED && status != PLB_STATE_STOPPED)
            return;
        PlbSeekPlayer(m_player, PlbGetPlayPosition(m_player, nullptr));
        if (status == PLB_STATE_STOPPED) {
            PlbPausePlayer(m_player);
            PlbStopPlayer(m_player);
        }
    }

    QString m_previewFile;
    Player* m_player = nullptr;
    std::array<QSlider*, 4> m_sliders{};
    std::array<QLabel*, 4> m_values{};
    GammaCurve* m_curve = nullptr;
    QLabel* m_preview = nullptr;
};

} // namespace

SettingsPage* createColorPage(QWidget* parent, const QString& previewFile, Player* player)
{
    return new ColorPage(parent, previewFile, player);
}

} // namespace tamlibui
