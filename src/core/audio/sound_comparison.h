#pragma once

#include "core/audio/stereo_sound.h"

namespace zentrowe::audio {

// How alike two sounds are, frame by frame of 10 ms: the short-time spectra folded into
// semitone bands, compared by their angle, weighted by how loud either sound is there.
struct SoundComparison {
    double similarity = 0;       // 0 (nothing alike) to 1 (the same notes at the same times)
    double worstSecond = 0;      // start, in seconds, of the one-second stretch least alike
    double worstSimilarity = 1;  // the similarity of that stretch alone
};

// Compares `candidate` with `reference` from their first frames; the shorter is taken to go on
// in silence. Both at one sample rate (above 0); silence against silence counts for nothing, so
// two silent sounds compare as alike. Throws std::bad_alloc when memory runs out.
SoundComparison compareSounds(const StereoSound& reference, const StereoSound& candidate);

}  // namespace zentrowe::audio
