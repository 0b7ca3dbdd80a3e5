// The disc identifiers and version numbers of a record, for the programs that show them.
#include <cstring>

#include "cdaz/cdaz_record.h"
#include "tamlib/cdaz.h"

namespace tamlib {

namespace {

template <size_t N> std::string fieldText(const char (&text)[N])
{
    return std::string(text, strnlen(text, N));
}

} // namespace

bool cdazIdentity(const CdazRecord* record, CdazIdentity& identity)
{
    if (!record)
        return false;
    identity.version = record->version;
    identity.analyzeVersion = record->analyzeVersion;
    identity.systemId = fieldText(record->systemId);
    identity.volumeId = fieldText(record->volumeId);
    identity.publisherId = fieldText(record->publisherId);
    return true;
}

} // namespace tamlib
