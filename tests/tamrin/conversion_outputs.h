// Helpers of the conversion tests: outputs judged from outside (ffprobe, the first bytes of a
// file), input files written, and the batch dialog found and watched while it runs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "batch_dialog.h"

namespace convtest {

// What a command prints on its standard output (its errors are dropped).
inline std::string shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

// ffprobe's values of `entries` for the stream `stream` ("v:0", "a:0") of a file, one line each.
inline std::string probe(const std::filesystem::path& file, const char* stream, const char* entries)
{
    return shell(std::string("ffprobe -v error -select_streams ") + stream + " -show_entries stream=" + entries +
                 " -of csv=p=0 '" + file.string() + "'");
}

// The first `bytes` of a file (fewer when it is shorter, none when it is missing).
inline std::string head(const std::filesystem::path& file, size_t bytes)
{
    std::ifstream in(file, std::ios::binary);
    std::string data(bytes, '\0');
    in.read(data.data(), std::streamsize(bytes));
    data.resize(size_t(in.gcount()));
    return data;
}

// The picture size a BMP file's header gives (the height as a count of rows, whichever way they
// run); 0 x 0 when the file is not a BMP.
struct BmpSize
{
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const BmpSize&) const = default;
};
inline BmpSize bmpSize(const std::filesystem::path& file)
{
    const std::string bmp = head(file, 26);
    BmpSize size;
    if (bmp.size() != 26 || bmp.compare(0, 2, "BM") != 0)
        return size;
    std::memcpy(&size.width, bmp.data() + 18, 4);
    std::memcpy(&size.height, bmp.data() + 22, 4);
    size.height = std::abs(size.height);
    return size;
}

inline void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

// The batch dialog on show, or null.
inline tamrin::BatchDialog* openDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "batchDialog" && widget->isVisible())
            return static_cast<tamrin::BatchDialog*>(widget);
    return nullptr;
}

// The longest time the event loop went without serving a 5 ms timer while a batch's dialog was
// open, and a hook run on every tick that sees the dialog.
class LoopWatch
{
  public:
    explicit LoopWatch(std::function<void(tamrin::BatchDialog&)> hook = {}) : m_hook(std::move(hook))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            tamrin::BatchDialog* dialog = openDialog();
            // Pauses while the dialog is open, from one tick to the next.
            if (dialog && m_wasOpen)
                m_worst = std::max(m_worst, now - m_last);
            m_wasOpen = dialog != nullptr;
            m_last = now;
            if (dialog && m_hook)
                m_hook(*dialog);
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 worstMs() const { return m_worst; }

  private:
    std::function<void(tamrin::BatchDialog&)> m_hook;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
    bool m_wasOpen = false;
};

} // namespace convtest
