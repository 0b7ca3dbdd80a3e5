// The "Convertion" page of the main window: what the selected entries are converted to, where
// their outputs go, and the settings of their type.
#pragma once

#include <QWidget>

#include <vector>

#include "options_file.h"
#include "stream_entry.h"

class QLabel;

namespace tamrin {

class ConversionPage : public QWidget
{
    Q_OBJECT
  public:
    explicit ConversionPage(TamrinOptions& options, QWidget* parent = nullptr);

    // Shows the conversion of `entries` (the selection; empty: none).
    void showEntries(const std::vector<StreamEntry*>& entries);

  signals:
    // The settings of the entries on show were changed.
    void entriesChanged();

  private:
    TamrinOptions& m_options;
    QLabel* m_summary;
};

} // namespace tamrin
