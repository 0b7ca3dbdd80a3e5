// Frame-rate guesses for movie streams whose sectors do not state a rate. Rates are frames per
// second x 10 (75, 150, 300, 600), as StrInfo.frameRate holds them.
#pragma once

#include <cstdint>

namespace sectorkit {

// From the picture size: small pictures are played fast, large ones slowly.
// q = 90000 / macroblocks; 75 below 150, 150 below 300, 300 below 600, else 600.
// A picture without macroblocks (a zero size) gets 600.
uint16_t rateFromPictureSize(uint32_t width, uint32_t height);

// From the average bytes of sector data per frame: many bytes per frame means few frames
// per second at a given disc speed. 75 above 20480, 150 above 10240, 300 above 5120, else 600.
uint16_t rateFromFrameBytes(uint64_t bytesPerFrame);

// The guess for a disc movie from its picture size and the sectors of its frames: the smaller of
// the picture-size guess and the guess for frames of (s1 + s2) x 1008 bytes, the mean of two
// frames of s1 and s2 sectors of 2016 bytes.
uint16_t rateFromSizeAndSectors(uint32_t width, uint32_t height, uint32_t s1, uint32_t s2);

// Play time in ms of a number of XA sound sectors (4032 samples each, shared by the channels);
// 0 when the format is unknown.
uint32_t xaAudioMs(uint32_t sectors, uint32_t sampleRate, uint16_t channels);

// Checks a rate against the rate implied by the sound that accompanies `frames` frames:
// r = frames x 10000 / audioMs. When the two differ by more than 2 frames per second the
// rate becomes r rounded to a multiple of 5. The rate is kept when no sound time is known or
// r rounds to 0.
uint16_t reconcileRateWithSound(uint16_t rate, uint32_t frames, uint32_t audioMs);

} // namespace sectorkit
