// An output file written in large pieces: small appends gather in memory and go out a chunk at a
// time, an append of a chunk or more goes straight to the file. The calls answer true or false
// only; on a failure OutputFile has discarded the file and left the system's reason in errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tamrin_common/output_file.h"

namespace tamlib::convert {

class ChunkedOutput
{
  public:
    static constexpr size_t kChunk = size_t(256) << 10;

    bool create(const std::filesystem::path& target)
    {
        std::string ignored;
        return m_file.create(target, ignored);
    }
    bool append(const void* bytes, size_t length)
    {
        if (m_pending.size() + length > kChunk) {
            if (!flush())
                return false;
            if (length >= kChunk) {
                std::string ignored;
                return m_file.write(bytes, length, ignored);
            }
        }
        if (m_pending.capacity() < kChunk)
            m_pending.reserve(kChunk);
        const auto* p = static_cast<const uint8_t*>(bytes);
        m_pending.insert(m_pending.end(), p, p + length);
        return true;
    }
    bool flush()
    {
        std::string ignored;
        if (!m_pending.empty() && !m_file.write(m_pending.data(), m_pending.size(), ignored))
            return false;
        m_pending.clear();
        return true;
    }
    // Overwrites bytes already appended (a header completed at the end).
    bool writeAt(uint64_t offset, const void* bytes, size_t length)
    {
        std::string ignored;
        return flush() && m_file.writeAt(offset, bytes, length, ignored);
    }
    bool commit()
    {
        std::string ignored;
        return flush() && m_file.commit(ignored);
    }

  private:
    tamrin_common::OutputFile m_file;
    std::vector<uint8_t> m_pending;
};

} // namespace tamlib::convert
