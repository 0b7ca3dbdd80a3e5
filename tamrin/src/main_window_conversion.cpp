// The main window's conversion commands: the batch of the listed entries and the settings of the
// selected ones.
#include "conversion_page.h"
#include "main_window.h"

namespace tamrin {

void MainWindow::startConversion()
{
    emit startConversionRequested();
}

bool MainWindow::editConversionSettings()
{
    return false;
}

} // namespace tamrin
