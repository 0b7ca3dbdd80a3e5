// How the sound hook of the test plugin SoundHook.psr answers (see sound_plugin.cpp).
#pragma once

#include <cstdint>

constexpr uint32_t kHookFails = 0xF0000001u;
constexpr uint32_t kHookDecodes = 0xF0000002u;
constexpr int32_t kHookBytes = 100;
constexpr uint8_t kHookFill = 0x5A;
