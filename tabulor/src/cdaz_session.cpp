#include "cdaz_session.h"

namespace tabulor {

struct CdazSession::Entry
{
};

CdazSession::CdazSession(Asker& asker) : m_asker(asker) {}
CdazSession::~CdazSession() = default;

Mode CdazSession::mode() const { return m_mode; }
int CdazSession::count() const { return static_cast<int>(m_entries.size()); }
int CdazSession::current() const { return m_current; }
void CdazSession::setCurrent(int) {}
std::string CdazSession::selectorText(int) const { return {}; }
bool CdazSession::modified(int) const { return false; }
std::string CdazSession::path(int) const { return {}; }
std::string CdazSession::fileName(int) const { return {}; }
std::string CdazSession::title(int) const { return {}; }
std::string CdazSession::prefix(int) const { return {}; }
CdazRecord* CdazSession::record(int) const { return nullptr; }
int CdazSession::open(const std::string&) { return -1; }
int CdazSession::openAnalyzeFolder() { return 0; }
bool CdazSession::close(int) { return false; }
bool CdazSession::closeAll() { return false; }
bool CdazSession::save(int) { return false; }
bool CdazSession::saveAs(int, const std::string&) { return false; }
bool CdazSession::saveAll() { return false; }
bool CdazSession::saveToAnalyze(int) { return false; }
bool CdazSession::saveAllToAnalyze() { return false; }
bool CdazSession::remove(int) { return false; }
bool CdazSession::setTitle(int, const std::string&) { return false; }
bool CdazSession::setPrefix(int, const std::string&) { return false; }
std::vector<int> CdazSession::setHidden(int, const std::vector<int>&, bool) { return {}; }
bool CdazSession::renameStream(int, int, const std::string&) { return false; }
bool CdazSession::setPluginOff(int, int, bool) { return false; }
bool CdazSession::movePlugin(int, int, int) { return false; }
std::vector<StreamRow> CdazSession::streams(int) const { return {}; }
std::vector<PluginRow> CdazSession::plugins(int) const { return {}; }

std::string listText(int32_t) { return {}; }
std::string statusText(int32_t) { return {}; }
std::string timeText(uint32_t) { return {}; }
std::string detailTimeText(uint32_t) { return {}; }
std::string typeText(const StrInfo&) { return {}; }
std::string frameRateText(uint32_t) { return {}; }
std::string versionText(int32_t) { return {}; }
std::string detectionText(int32_t, int32_t) { return {}; }

std::string windowSettingsPath() { return {}; }
WindowSettings readWindowSettings(const std::string&) { return {}; }
bool writeWindowSettings(const std::string&, const WindowSettings&) { return false; }

} // namespace tabulor
