// A transport that records every command block it is given and answers with canned replies, in
// order; with no reply left, a command does not complete.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "scsi_transport.h"

namespace discport::testing {

struct RecordedCommand
{
    std::vector<uint8_t> cdb; // cdbLength bytes
    uint32_t dataLength = 0;
    bool hasData = false;
    uint32_t timeoutMs = 0;
};

struct CannedReply
{
    std::vector<uint8_t> bytes; // copied into the data buffer (at most dataLength)
    uint8_t status = 0;
    bool completed = true;
    uint8_t senseLength = 0;
    // Bytes reported as transferred; by default the reply's size (within dataLength).
    int64_t transferred = -1;
};

class RecordingTransport final : public ScsiTransport
{
  public:
    std::vector<RecordedCommand> commands;
    std::deque<CannedReply> replies;

    RecordingTransport& answer(std::vector<uint8_t> bytes = {}, uint8_t status = 0)
    {
        CannedReply reply;
        reply.bytes = std::move(bytes);
        reply.status = status;
        replies.push_back(std::move(reply));
        return *this;
    }
    RecordingTransport& answerWith(CannedReply reply)
    {
        replies.push_back(std::move(reply));
        return *this;
    }

    ScsiResult execute(const ScsiCommand& command) override
    {
        RecordedCommand recorded;
        recorded.cdb.assign(command.cdb, command.cdb + command.cdbLength);
        recorded.dataLength = command.dataLength;
        recorded.hasData = command.data != nullptr;
        recorded.timeoutMs = command.timeoutMs;
        commands.push_back(recorded);

        ScsiResult result;
        if (replies.empty())
            return result;
        const CannedReply reply = replies.front();
        replies.pop_front();
        const size_t copied = std::min<size_t>(reply.bytes.size(), command.dataLength);
        if (command.data)
            std::copy_n(reply.bytes.begin(), copied, command.data);
        result.completed = reply.completed;
        result.status = reply.status;
        result.senseLength = reply.senseLength;
        result.transferred = reply.transferred >= 0 ? uint32_t(reply.transferred) : uint32_t(copied);
        return result;
    }
};

inline std::vector<uint8_t> bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (const int v : values)
        out.push_back(uint8_t(v));
    return out;
}

} // namespace discport::testing
