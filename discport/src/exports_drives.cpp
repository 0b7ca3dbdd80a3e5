// The drive queries of the library: each is one or two command blocks through the drive's
// transport (commands.cpp). A drive index out of range gives 0 without a command.
#include <cstring>

#include "commands.h"
#include "discport/discport.h"
#include "drive_table.h"

using namespace discport;

CD_API int32_t CdGetDriveInfo(int32_t drive, int32_t* hostAdapter, int32_t* target, int32_t* lun,
                              char* vendor, char* product, char* revision)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        DriveAddress address;
        if (!driveAddress(drive, address))
            return 0;
        const auto fillAddress = [&] {
            if (hostAdapter)
                *hostAdapter = address.host;
            if (target)
                *target = address.target;
            if (lun)
                *lun = address.lun;
        };
        // A SCSI generic drive's address is known without asking the drive.
        if (address.interface == CD_USE_SG) {
            fillAddress();
            if (!vendor && !product && !revision)
                return 1;
        }
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        if (!transport)
            return 0;
        InquiryReply reply;
        DriveIdentity identity;
        if (!inquiry(*transport, reply) || !parseIdentity(reply.bytes, reply.length, identity))
            return 0;
        if (address.interface != CD_USE_SG)
            fillAddress();
        if (vendor)
            std::memcpy(vendor, identity.vendor, sizeof(identity.vendor));
        if (product)
            std::memcpy(product, identity.product, sizeof(identity.product));
        if (revision)
            std::memcpy(revision, identity.revision, sizeof(identity.revision));
        return 1;
    });
}

CD_API int32_t CdCheckDriveStat(int32_t drive)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        return transport && driveReady(*transport) ? 1 : 0;
    });
}

CD_API int32_t CdReadToc(int32_t drive, int32_t maxEntries, CdTocEntry* entries)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        // The drive's volume identity is stale from here on, whatever the TOC read gives.
        if (VolumeCache* cache = volumeCache(drive))
            cache->valid = false;
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        return transport ? readToc(*transport, maxEntries, entries) : 0;
    });
}

CD_API int32_t CdGetTrackType(int32_t drive, const CdTocEntry* entry)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        const int32_t interface = driveInterface(drive);
        if (interface == CD_USE_NONE || !entry)
            return 0;
        if (!(entry->control & CD_TOC_DATA_TRACK))
            return 1;
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        return transport && readsAsMode1(*transport, interface, entry->start) ? 2 : 3;
    });
}

CD_API int32_t CdSetSpinSpeed(int32_t drive, int32_t speed)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        const int32_t interface = driveInterface(drive);
        if (interface == CD_USE_NONE)
            return 0;
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        return transport && setSpinSpeed(*transport, interface, speed) ? 1 : 0;
    });
}

CD_API int32_t CdGetCapabilities(int32_t drive, int32_t pageControl, uint32_t* word, int32_t* maxReadSpeed,
                                 int32_t* maxWriteSpeed)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (!word)
            return 0;
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        Capabilities capabilities;
        if (!transport || !readCapabilities(*transport, pageControl, capabilities))
            return 0;
        *word = capabilities.word;
        if (maxReadSpeed)
            *maxReadSpeed = capabilities.maxReadSpeed;
        if (maxWriteSpeed)
            *maxWriteSpeed = capabilities.maxWriteSpeed;
        return 1;
    });
}

CD_API int32_t CdGetUpcEanCode(int32_t drive, CdUpcEan* code)
{
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (!code)
            return 0;
        const std::shared_ptr<ScsiTransport> transport = openDrive(drive);
        return transport && readCatalogueNumber(*transport, *code) ? 1 : 0;
    });
}
