#pragma once

#include <cstdint>
#include <functional>

#include "core/audio/loudness.h"
#include "core/audio/sound_file_reader.h"
#include "core/base/progress.h"

namespace zentrowe::audio {

// Gives frames [from, to) of a stereo programme in order, in pieces, to `take`; called from
// several threads at once, each for a stretch of its own.
using ProgrammeReader = std::function<void(std::int64_t from, std::int64_t to, const SoundBlockSink& take)>;

// The integrated loudness (ITU-R BS.1770 K-weighting, EBU R128 gating) and true peak of a whole
// programme of `frames` stereo frames, as LoudnessMeter measures it, for a programme too long to
// measure on one thread in the time a build allows: a meter of that library takes about four
// times as long per frame. The programme is cut into stretches on up to `threads` threads, each
// read from a second before its start so that its filters stand where one pass would have them;
// the loudness then agrees with one meter's to well under 0.01 LU. The true peak is taken
// (four times oversampled) only where the programme comes within 6 dB of its highest sample:
// the true peak of quieter parts, at most a fraction of a dB above their samples, cannot reach
// the loud ones'. InvalidSetting for a rate outside 8 kHz to 768 kHz (below, the K-weighting's
// shelf passes the Nyquist frequency). The stretches run as jobs of runJobs, whose calling thread
// polls `stop` for stopRequested() only (its advance() is not called): Cancelled if it asks to stop.
Result<LoudnessMeasure> measureProgramme(const ProgrammeReader& read, std::int64_t frames, int sampleRate,
                                         unsigned threads, const ProgressSink& stop);
Result<LoudnessMeasure> measureProgramme(const ProgrammeReader& read, std::int64_t frames, int sampleRate,
                                         unsigned threads);

}  // namespace zentrowe::audio
