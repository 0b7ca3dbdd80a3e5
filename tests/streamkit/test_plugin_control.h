// What the test plugins do and what they saw: a script of units to deliver and call counters.
// The tests reach the state of a loaded test plugin through its extra export TestPluginState.
#pragma once

#include <cstdint>
#include <vector>

#include "streamkit/psr.h"

struct ScriptedUnit
{
    uint32_t frameNumber = 0;
    uint8_t unitKind = 0;
    uint8_t unitFlags = 0;
    uint32_t payloadBytes = 0;
    uint8_t fill = 0;  // every payload byte, so a unit can be recognised after queueing
};

struct TestPluginControl
{
    // Behaviour.
    std::vector<ScriptedUnit> units;
    StrInfo fileInfo{};      // what PsrGetStrFileInfo and PsrIsSupportCDResult fill in
    int32_t fileInfoResult = 1;
    int32_t cdResultCount = 1;
    int32_t seekResult = 1;
    // Answers of the decoding hooks: 0 lets the host decode, -1 fails, 1 means "drew the
    // picture" (the hook fills it with 0x55 bytes and returns it); decodeBsCodes, when set, is
    // the run-level buffer PsrDecodeBs returns.
    int frameDecoderAnswer = 0;
    int decodeFrameAnswer = 0;
    int decodeBsAnswer = 0;
    const uint16_t* decodeBsCodes = nullptr;

    // Observations.
    size_t next = 0;  // index of the next unit to deliver
    int readCalls = 0;
    int seekCalls = 0;
    uint32_t lastSeekMs = 0;
    int openCalls = 0;
    int closeCalls = 0;
    int freeCalls = 0;
    int ownedOutstanding = 0;  // owned blocks handed out and not freed yet
    int frameDecoderOpens = 0;
    int frameDecoderCloses = 0;
    int setEnvironmentCalls = 0;
    int frameDecoderCalls = 0;
    int decodeFrameCalls = 0;
    int decodeBsCalls = 0;
    uint16_t mediaFlagsPreset = 0xFFFF;  // mediaFlags as the host preset them

    void reset() { *this = TestPluginControl{}; }
};

using TestPluginStateFn = TestPluginControl* (*)();
