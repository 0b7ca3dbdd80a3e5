#include "settings_test_env.h"

#include <QFile>
#include <QProcess>

#include "tamlib/environment.h"

namespace guitest {

void SettingsEnvironment::SetUp()
{
    ASSERT_TRUE(m_home.isValid());
    m_previousHome = qgetenv("TAMRIN_HOME");
    m_previousLocale = qgetenv("LC_ALL");
    qputenv("TAMRIN_HOME", m_home.path().toUtf8());
    useJapanese(false);
    // A stored settings file: no first-start drive question.
    QFile settings(m_home.filePath("Tamlib.ini"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.close();
    ASSERT_EQ(PlbInitialize(), 1);
    m_started = true;
}

void SettingsEnvironment::TearDown()
{
    if (m_started)
        PlbTerminate();
    qputenv("TAMRIN_HOME", m_previousHome);
    if (m_previousLocale.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", m_previousLocale);
}

void SettingsEnvironment::useJapanese(bool japanese)
{
    qputenv("LC_ALL", japanese ? "ja_JP.UTF-8" : "C");
}

QByteArray SettingsEnvironment::cliSettings() const
{
    QProcess cli;
    cli.setProgram(QString(TAMRIN_OUT_DIR) + "/tamrin-cli");
    cli.setArguments({"settings", "--json"});
    cli.start();
    if (!cli.waitForFinished(30000) || cli.exitCode() != 0)
        return {};
    return cli.readAllStandardOutput();
}

QString previewMovie()
{
    return QString(TAMRIN_TEST_DATA) + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
}

QString sampleDisc()
{
    return QString(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue";
}

} // namespace guitest
