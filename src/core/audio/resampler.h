#pragma once

#include <span>
#include <vector>

namespace zentrowe::audio {

// Interleaved stereo samples converted from one rate to another by band-limited interpolation,
// aligned so that a sound's onset stays at the same time. The same samples when the rates
// agree; nothing for a rate of 0 or less.
std::vector<float> resampleStereo(std::span<const float> samples, int fromRate, int toRate);

}  // namespace zentrowe::audio
