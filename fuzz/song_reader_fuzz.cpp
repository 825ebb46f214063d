// Arbitrary bytes through every call the command line makes on a MIDI file: the summary pass,
// the event listing of every track read, and the keysound measurement of the read-back. None of
// them may crash, hang or read outside the input, whatever the bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/base/progress.h"
#include "core/song/event_listing.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"

namespace {

// Touches every text so that a row pointing at freed or foreign memory shows up under ASan.
class TouchRows final : public zentrowe::song::EventRowSink {
public:
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        for (const std::string_view text : {delta, label, description}) {
            for (const char c : text) {
                m_sum += static_cast<unsigned char>(c);
            }
        }
    }
    std::size_t sum() const { return m_sum; }

private:
    std::size_t m_sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zentrowe;
    const std::span<const std::uint8_t> file(data, size);
    NullProgress quiet;
    const auto summary = song::summarizeSong(file, "fuzz.mid", quiet);
    if (!summary) {
        return 0;
    }
    TouchRows rows;
    for (int track = 1; track <= static_cast<int>(summary->tracks.size()); ++track) {
        const auto listed = song::listTrackEvents(file, *summary, track, rows, quiet);
        if (!listed) {
            __builtin_trap();  // every track the summary read must list
        }
        (void)keysound::collectKeysoundCuts(file, *summary, track, 100);
    }
    return 0;
}
