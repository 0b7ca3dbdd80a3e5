// What the CDAZ tests share: streams and records built field by field, the comparison of two
// records, and bit strings written as text ("0101...") packed into bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cdaz/cdaz_record.h"
#include "cdaz/cdaz_store.h"

namespace cdaztest {

using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;

inline RecordPtr own(CdazRecord* record)
{
    return RecordPtr(record, tamlib::cdazFree);
}

inline StrInfo streamInfo(uint16_t kind, uint32_t start, uint32_t sectors, uint32_t durationMs = 1000,
                          uint32_t width = 0, uint32_t height = 0)
{
    StrInfo info{};
    info.kind = kind;
    info.startSector = start;
    info.sectorCount = sectors;
    info.durationMs = durationMs;
    info.width = width;
    info.height = height;
    info.outWidth = width;
    info.outHeight = height;
    return info;
}

// A record with the texts of a disc and the given plugin file names (version 100 + index).
inline RecordPtr makeRecord(const std::vector<std::string>& plugins, const char* prefix = "STR")
{
    RecordPtr record = own(tamlib::cdazCreate(8, 16));
    tamlib::cdazCopyText(record->name, "SLUS_00012002001000.cdaz");
    tamlib::cdazCopyText(record->title, "A Disc");
    tamlib::cdazCopyText(record->prefix, prefix);
    tamlib::cdazCopyText(record->systemId, "PLAYSTATION");
    tamlib::cdazCopyText(record->volumeId, "SLUS_000");
    tamlib::cdazCopyText(record->publisherId, "A PUBLISHER");
    record->analyzeVersion = tamlib::kCdazAnalyzeVersion;
    record->anaSector = -1;
    for (size_t p = 0; p < plugins.size(); ++p) {
        StrInfo none = streamInfo(1, 0, 0);
        // Adding and removing a stream creates the plugin entry in order.
        EXPECT_TRUE(tamlib::cdazAddStream(*record, nullptr, none, plugins[p].c_str(), uint16_t(100 + p),
                                          "author", "http://example.invalid/", {}));
        record->streamCount--;
    }
    return record;
}

inline void addStream(CdazRecord& record, const StrInfo& info, uint16_t pluginIndex,
                      const char* name = nullptr, uint8_t flags = 0)
{
    const tamlib::CdazPluginEntry& entry = record.plugins[pluginIndex];
    ASSERT_TRUE(
        tamlib::cdazAddStream(record, name, info, entry.fileName, entry.version, nullptr, nullptr, {}));
    record.streams[record.streamCount - 1].streamFlags = flags;
}

inline void expectSameRecord(const CdazRecord& a, const CdazRecord& b)
{
    EXPECT_EQ(a.anaSector, b.anaSector);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.cdazFlags, b.cdazFlags);
    EXPECT_STREQ(a.name, b.name);
    EXPECT_STREQ(a.title, b.title);
    EXPECT_STREQ(a.prefix, b.prefix);
    EXPECT_STREQ(a.systemId, b.systemId);
    EXPECT_STREQ(a.volumeId, b.volumeId);
    EXPECT_STREQ(a.publisherId, b.publisherId);
    EXPECT_EQ(a.analyzeVersion, b.analyzeVersion);
    ASSERT_EQ(a.pluginCount, b.pluginCount);
    for (int p = 0; p < a.pluginCount; ++p) {
        SCOPED_TRACE(p);
        EXPECT_STREQ(a.plugins[p].fileName, b.plugins[p].fileName);
        EXPECT_EQ(a.plugins[p].pluginFlags, b.plugins[p].pluginFlags);
        EXPECT_EQ(a.plugins[p].version, b.plugins[p].version);
        EXPECT_STREQ(a.plugins[p].author, b.plugins[p].author);
        EXPECT_STREQ(a.plugins[p].address, b.plugins[p].address);
    }
    ASSERT_EQ(a.streamCount, b.streamCount);
    for (int i = 0; i < a.streamCount; ++i) {
        SCOPED_TRACE(i);
        const tamlib::CdazStreamEntry& s = a.streams[i];
        const tamlib::CdazStreamEntry& t = b.streams[i];
        EXPECT_EQ(0, std::memcmp(&s.info, &t.info, sizeof(StrInfo)));
        EXPECT_EQ(s.streamFlags, t.streamFlags);
        EXPECT_EQ(s.pluginIndex, t.pluginIndex);
        const std::string nameA = s.streamName ? s.streamName : "";
        const std::string nameB = t.streamName ? t.streamName : "";
        EXPECT_EQ(nameA, nameB);
    }
}

// Version-4 files, put together field by field.
struct V4File
{
    std::vector<uint8_t> bytes;

    void u8(uint32_t v) { bytes.push_back(uint8_t(v)); }
    void u16(uint32_t v)
    {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v)
    {
        u16(v);
        u16(v >> 16);
    }
    void text(const std::string& t)
    {
        bytes.insert(bytes.end(), t.begin(), t.end());
        u8(0);
    }
    void header(uint8_t flags, int32_t anaSector, const std::string& name, const std::string& title,
                const std::string& prefix, uint16_t plugins, uint16_t streams)
    {
        u8(4);
        u8(flags);
        u16(0);
        u32(uint32_t(anaSector));
        u16(uint32_t(name.size() + 1));
        u16(uint32_t(title.size() + 1));
        u16(uint32_t(prefix.size() + 1));
        u16(plugins);
        u16(streams);
        u16(0);
        text(name);
        text(title);
        text(prefix);
    }
    void plugin(uint16_t version, uint8_t flags, const std::string& file, const std::string& author,
                const std::string& address)
    {
        u16(version);
        u8(flags);
        u8(0);
        u16(uint32_t(file.size() + 1));
        u16(uint32_t(author.size() + 1));
        u16(uint32_t(address.size() + 1));
        text(file);
        text(author);
        text(address);
    }
    void stream(uint16_t kind, uint32_t start, uint32_t sectors, uint32_t width, uint32_t height,
                uint8_t flags, uint16_t pluginIndex, const std::string& name)
    {
        u16(kind);
        u16(0);
        u32(start);
        u32(sectors);
        u32(2000); // durationMs
        u32(30);   // frames
        u32(width);
        u32(height);
        u16(150);    // frame rate
        u16(1);      // audio format
        u16(2);      // channels
        u16(4);      // bits
        u32(37800);  // sample rate
        u32(123456); // data bytes
        u8(flags);
        u8(0);
        u16(pluginIndex);
        u16(uint32_t(name.size() + 1));
        u16(0);
        text(name);
    }
};

// A text with one number in it ("P%d.PSR").
inline std::string numbered(const char* format, int number)
{
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

// "0100 1" -> bytes, most significant bit first, zero-padded; blanks are ignored.
inline std::vector<uint8_t> packBits(const std::string& text)
{
    std::vector<uint8_t> out;
    int count = 0;
    for (char c : text) {
        if (c != '0' && c != '1')
            continue;
        if (count % 8 == 0)
            out.push_back(0);
        if (c == '1')
            out.back() |= uint8_t(0x80 >> (count % 8));
        ++count;
    }
    return out;
}

} // namespace cdaztest
