// A measuring tool beside the benchmarks: how alike two sound files are, by the comparison
// `check` uses (semitone bands every 10 ms, weighted by loudness), both read at 44,100 Hz from
// their first frames. For comparing a built folder's autoplay (`preview CHART --out mix.wav`)
// with another synthesiser's rendering of the whole MIDI file.
//
//   build/release/bench/sound_similarity REFERENCE.wav CANDIDATE.wav

#include <cstdio>

#include "core/audio/sound_comparison.h"
#include "core/audio/sound_file_reader.h"

int main(int argc, char** argv)
{
    using namespace zentrowe::audio;
    if (argc != 3) {
        std::fprintf(stderr, "usage: sound_similarity REFERENCE CANDIDATE\n");
        return 2;
    }
    const auto reference = readSoundFile(argv[1], 44100);
    const auto candidate = readSoundFile(argv[2], 44100);
    for (const auto* read : {&reference, &candidate}) {
        if (!read->ok()) {
            std::fprintf(stderr, "%s\n", read->error().message.c_str());
            return 1;
        }
    }
    const auto comparison = compareSounds(*reference, *candidate);
    std::printf("similarity %.3f; worst second at %.1f s: %.3f\n", comparison.similarity, comparison.worstSecond,
                comparison.worstSimilarity);
    return 0;
}
