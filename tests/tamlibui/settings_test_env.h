// The settings tests' environment: a fresh TAMRIN_HOME with the library started in it, the
// language chosen by LC_ALL, and the command-line tool's view of the stored settings.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace guitest {

class SettingsEnvironment : public testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // Switches the string tables to Japanese (true) or English.
    static void useJapanese(bool japanese);
    // `tamrin-cli settings --json` run on this home folder; empty when it fails.
    QByteArray cliSettings() const;

    QTemporaryDir m_home;

  private:
    QByteArray m_previousHome;
    QByteArray m_previousLocale;
    bool m_started = false;
};

// The movie whose first frame the colour page previews.
QString previewMovie();
QString sampleDisc();

} // namespace guitest
