#include "core/audio/chart_mixer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "core/audio/keysound_finder.h"
#include "core/audio/sound_file_reader.h"
#include "core/base/file_error.h"
#include "core/base/job_runner.h"
#include "core/base/number_text.h"

namespace zentrowe::audio {

// The mix, in blocks of a second allocated where some sound lands, each with its own lock: the
// reading threads add what they decode straight into it, so no sound is held once decoded and
// silence costs nothing until the mix is put together. Samples are summed in fixed point, as
// whole numbers of kUnit, so that the sum does not depend on the order the threads add in: the
// same chart mixes to the same bytes on any number of cores.
class BlockMix {
public:
    BlockMix(std::int64_t limitFrames, int sampleRate)
        : m_blockFrames(std::max(sampleRate, 1)),
          m_limitFrames(std::max<std::int64_t>(limitFrames, 0)),
          m_blocks(static_cast<std::size_t>((m_limitFrames + m_blockFrames - 1) / m_blockFrames)),
          m_locks(std::make_unique<std::mutex[]>(m_blocks.size()))
    {
    }

    // Adds `frames` interleaved stereo frames at mix frame `frame`; what falls outside the mix's
    // limit is left out.
    void add(std::int64_t frame, const float* samples, std::int64_t frames)
    {
        std::int64_t from = std::max<std::int64_t>(frame, 0);
        const std::int64_t to = std::min(frame + frames, m_limitFrames);
        while (from < to) {
            const auto index = static_cast<std::size_t>(from / m_blockFrames);
            const std::int64_t blockStart = static_cast<std::int64_t>(index) * m_blockFrames;
            const std::int64_t blockEnd = std::min(blockStart + m_blockFrames, to);
            const float* in = samples + (from - frame) * 2;
            const std::lock_guard lock(m_locks[index]);
            auto& block = m_blocks[index];
            if (!block) {
                block = std::make_unique<std::uint32_t[]>(static_cast<std::size_t>(m_blockFrames) * 2);
            }
            std::uint32_t* out = block.get() + (from - blockStart) * 2;
            const std::int64_t count = (blockEnd - from) * 2;
            for (std::int64_t i = 0; i < count; ++i) {
                out[i] += toFixed(in[i]);  // modulo 2^32: whole numbers add in any order alike
            }
            from = blockEnd;
        }
    }

    // Frames [from, to) in order, in pieces of at most a block, silence as zeros.
    void read(std::int64_t from, std::int64_t to, const SoundBlockSink& take) const
    {
        from = std::max<std::int64_t>(from, 0);
        std::vector<float> piece;
        while (from < to) {
            const auto index = static_cast<std::size_t>(from / m_blockFrames);
            const std::int64_t blockStart = static_cast<std::int64_t>(index) * m_blockFrames;
            std::int64_t end = std::min(blockStart + m_blockFrames, to);
            if (index < m_blocks.size() && m_blocks[index]) {
                const std::uint32_t* start = m_blocks[index].get() + (from - blockStart) * 2;
                piece.resize(static_cast<std::size_t>(end - from) * 2);
                std::transform(start, start + piece.size(), piece.begin(), toFloat);
                take(piece);
            } else {
                end = std::min(end, from + kSilenceFrames);
                take(std::span<const float>(m_silence).first(static_cast<std::size_t>(end - from) * 2));
            }
            from = end;
        }
    }

    // The first `frames` frames as one sound; blocks are let go as they are copied.
    std::vector<float> assemble(std::int64_t frames)
    {
        std::vector<float> samples;
        samples.reserve(static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) * 2);
        for (std::size_t index = 0; index < m_blocks.size(); ++index) {
            const std::int64_t blockStart = static_cast<std::int64_t>(index) * m_blockFrames;
            if (blockStart >= frames) {
                break;
            }
            const auto count = static_cast<std::size_t>(std::min(m_blockFrames, frames - blockStart)) * 2;
            if (m_blocks[index]) {
                std::transform(m_blocks[index].get(), m_blocks[index].get() + count, std::back_inserter(samples),
                               toFloat);
                m_blocks[index].reset();
            } else {
                samples.resize(samples.size() + count, 0.0F);
            }
        }
        samples.resize(static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) * 2, 0.0F);
        return samples;
    }

private:
    static constexpr std::int64_t kSilenceFrames = 4096;
    // 2^-20 of full scale: far below what 16-bit output or Vorbis keeps, and room for a sum of
    // 2048 full-scale sounds before it wraps.
    static constexpr double kUnit = 1.0 / (1 << 20);
    static constexpr double kLargest = 2047.0;

    static std::uint32_t toFixed(float sample)
    {
        const double clamped = std::clamp(static_cast<double>(sample), -kLargest, kLargest);  // NaN stays NaN
        const auto whole = std::isnan(clamped) ? 0 : static_cast<std::int32_t>(std::lrint(clamped / kUnit));
        return static_cast<std::uint32_t>(whole);
    }
    static float toFloat(std::uint32_t sum) { return static_cast<float>(static_cast<std::int32_t>(sum) * kUnit); }

    std::int64_t m_blockFrames;
    std::int64_t m_limitFrames;
    std::vector<std::unique_ptr<std::uint32_t[]>> m_blocks;
    std::unique_ptr<std::mutex[]> m_locks;
    std::vector<float> m_silence = std::vector<float>(static_cast<std::size_t>(kSilenceFrames) * 2, 0.0F);
};

// Where each held sound plays in a mix that is mixed only as it is read.
struct HeldPlan {
    struct Entry {
        std::int64_t start = 0;      // the mix frame its sound is first heard at
        std::int64_t soundFrom = 0;  // the sound's frames [soundFrom, soundTo) are heard
        std::int64_t soundTo = 0;
        std::size_t stem = 0;
    };
    const HeldSounds* held = nullptr;
    std::vector<std::string> stems;
    std::vector<Entry> entries;  // by start
    std::int64_t longest = 0;    // frames any entry is heard for

    void read(std::int64_t from, std::int64_t to, const SoundBlockSink& take) const
    {
        constexpr std::int64_t kWindowFrames = 8192;
        std::vector<float> window(static_cast<std::size_t>(kWindowFrames) * 2);
        auto next = std::lower_bound(entries.begin(), entries.end(), from - longest,
                                     [](const Entry& entry, std::int64_t frame) { return entry.start < frame; });
        std::vector<const Entry*> active;
        for (std::int64_t at = std::max<std::int64_t>(from, 0); at < to;) {
            const std::int64_t end = std::min(at + kWindowFrames, to);
            for (; next != entries.end() && next->start < end; ++next) {
                active.push_back(&*next);
            }
            std::erase_if(active,
                          [&](const Entry* entry) { return entry->start + (entry->soundTo - entry->soundFrom) <= at; });
            const auto out = std::span<float>(window).first(static_cast<std::size_t>(end - at) * 2);
            std::fill(out.begin(), out.end(), 0.0F);
            for (const Entry* entry : active) {
                const std::int64_t a = std::max(at, entry->start);
                const std::int64_t b = std::min(end, entry->start + (entry->soundTo - entry->soundFrom));
                if (a < b) {
                    held->addTo(stems[entry->stem], entry->soundFrom + (a - entry->start),
                                out.subspan(static_cast<std::size_t>(a - at) * 2, static_cast<std::size_t>(b - a) * 2));
                }
            }
            take(out);
            at = end;
        }
    }
};

MixBlocks::MixBlocks(std::unique_ptr<BlockMix> blocks, std::int64_t frames)
    : m_blocks(std::move(blocks)), m_frames(frames)
{
}

MixBlocks::MixBlocks(std::shared_ptr<const HeldPlan> plan, std::int64_t frames)
    : m_plan(std::move(plan)), m_frames(frames)
{
}

MixBlocks::MixBlocks(MixBlocks&&) noexcept = default;
MixBlocks& MixBlocks::operator=(MixBlocks&&) noexcept = default;
MixBlocks::~MixBlocks() = default;

std::vector<float> MixBlocks::assemble()
{
    if (m_plan) {
        std::vector<float> samples;
        samples.reserve(static_cast<std::size_t>(m_frames) * 2);
        read(0, m_frames,
             [&](std::span<const float> piece) { samples.insert(samples.end(), piece.begin(), piece.end()); });
        return samples;
    }
    return m_blocks->assemble(m_frames);
}

void MixBlocks::read(std::int64_t from, std::int64_t to, const SoundBlockSink& take) const
{
    if (m_plan) {
        m_plan->read(from, std::min(to, m_frames), take);
    } else {
        m_blocks->read(from, std::min(to, m_frames), take);
    }
}

namespace {

constexpr std::size_t kPlacementsBetweenPolls = 4096;

// Where one strike of a file sounds: its first frame in the mix, and the frames of the sound
// it plays, [soundFrom, soundTo) (cut by the next strike of its keysound or the mix's end).
struct Placement {
    std::int64_t first = 0;
    std::int64_t soundFrom = 0;
    std::int64_t soundTo = 0;
};

struct FileToRead {
    std::filesystem::path path;  // or, for a held sound, its stem
    bool held = false;
    std::int64_t maxFrames = 0;         // the longest any strike plays it
    std::vector<Placement> placements;  // longest first
};

struct FileRead {
    std::optional<Error> error;
    std::int64_t frames = 0;  // decoded, whether or not the file then failed
};

// Gives a held sound in blocks, as streamSoundFile decodes a file, up to `maxFrames` frames.
void playHeld(const HeldSounds& held, const std::string& stem, std::int64_t maxFrames, const SoundBlockSink& take)
{
    constexpr std::int64_t kBlockFrames = 2048;
    std::array<float, kBlockFrames * 2> block;
    const std::int64_t frames = std::min(held.frames(stem), maxFrames);
    for (std::int64_t at = 0; at < frames; at += kBlockFrames) {
        const auto out =
            std::span<float>(block).first(static_cast<std::size_t>(std::min(kBlockFrames, frames - at)) * 2);
        std::fill(out.begin(), out.end(), 0.0F);
        held.addTo(stem, at, out);
        take(out);
    }
}

// Decodes the files on every core, each block added at once wherever the file sounds: decoding is
// most of a preview's time, and adding a block while it is hot costs little. The caller's thread
// is the only one to talk to the progress sink (files read); a reading thread sees its stop
// between blocks. Cancelled if the sink asks to stop; OutOfMemory if a file's blocks do not fit.
Result<std::vector<FileRead>> readIntoMix(const std::vector<FileToRead>& files, const MixOptions& options,
                                          BlockMix& mix, ProgressSink& progress)
{
    std::vector<FileRead> reads(files.size());
    const auto readOne = [&](std::size_t i, JobContext& context) -> Status {
        const auto& file = files[i];
        auto& read = reads[i];
        const auto take = [&](std::span<const float> block) {
            const std::int64_t a = read.frames;
            const std::int64_t b = a + static_cast<std::int64_t>(block.size() / 2);
            read.frames = b;
            if (context.stopRequested() ||
                std::all_of(block.begin(), block.end(), [](float sample) { return sample == 0.0F; })) {
                return;
            }
            for (const auto& placement : file.placements) {
                if (placement.soundTo <= a) {
                    break;  // longest first: no later placement reaches this block
                }
                const std::int64_t from = std::max(a, placement.soundFrom);
                const std::int64_t to = std::min(b, placement.soundTo);
                if (from < to) {
                    mix.add(placement.first + from, block.data() + (from - a) * 2, to - from);
                }
            }
        };
        if (file.maxFrames == 0) {
            return {};  // not heard in the mix: not even opened
        }
        if (file.held) {
            playHeld(*options.held, file.path.string(), file.maxFrames, take);
        } else if (auto decoded = streamSoundFile(file.path, options.sampleRate, file.maxFrames, take); !decoded) {
            read.error = decoded.error();  // listed with the files that failed; the mix goes on
        }
        if (context.stopRequested()) {
            return Error{ErrorCode::Cancelled, "mixing stopped"};
        }
        return {};
    };
    JobOptions jobOptions;
    jobOptions.threads = options.threads;
    jobOptions.work = "mixing";
    jobOptions.nameOf = [&](std::size_t i) { return displayPath(files[i].path); };
    if (auto status = runJobs(files.size(), readOne, jobOptions, progress); !status) {
        return status.error();
    }
    return reads;
}

struct Voice {
    double startSeconds = 0;
    double cutSeconds = std::numeric_limits<double>::infinity();  // when the same keysound sounds again
    std::size_t keysound = 0;
};

// The stretch of the chart a mix covers, in seconds and in frames of the mix.
struct MixWindow {
    double fromSeconds = 0;
    double endSeconds = std::numeric_limits<double>::infinity();  // none given: the sound's end
    double rate = 0;
    std::int64_t longestSound = 0;  // frames of the longest sound a keysound file plays
    std::int64_t limitFrames = 0;   // no frame past this is written
    double longestSeconds = 0;      // MixOptions::longestSeconds

    std::int64_t frameAt(double seconds) const { return static_cast<std::int64_t>(std::llround(seconds * rate)); }
};

// The files the voices play, each found once per keysound and read once, in the order first
// heard, as far as its longest voice plays it; several keysounds may name one file.
struct FilePlan {
    std::vector<FileToRead> files;
    std::vector<std::ptrdiff_t> fileOfKeysound;  // -1: no file
    std::vector<bool> looked;
    std::vector<std::size_t> firstHeard;                       // the voice that first plays each keysound
    std::vector<std::pair<std::size_t, std::string>> missing;  // when first heard, and the sentence
    // The names of sounds read only as far as any sound is, when first heard.
    std::vector<std::pair<std::size_t, std::string>> cutShort;
    std::set<std::string> reported;
    std::map<std::filesystem::path, std::size_t> fileIndex;
    std::map<std::string, std::size_t> heldIndex;
};

Status checkMixOptions(std::span<const KeysoundStrike> strikes, const MixOptions& options)
{
    if (options.sampleRate <= 0 || !(options.fromSeconds >= 0) || !std::isfinite(options.fromSeconds) ||
        (options.lengthSeconds && !(*options.lengthSeconds > 0))) {
        return Error{ErrorCode::InvalidSetting,
                     "a mix needs a rate above 0, a start of 0 or later and a length above 0"};
    }
    if (options.lengthSeconds && *options.lengthSeconds > options.longestSeconds) {
        return Error{ErrorCode::InvalidSetting, "a mix is at most an hour long"};
    }
    if (!strikes.empty() && options.fromSeconds > strikes.back().seconds) {
        return Error{ErrorCode::InvalidSetting, "a mix cannot start at " + generalText(options.fromSeconds, 6) +
                                                    " s: the chart's last sound starts at " +
                                                    fixedText(strikes.back().seconds, 3) + " s"};
    }
    return {};
}

MixWindow mixWindow(const MixOptions& options)
{
    MixWindow window;
    window.fromSeconds = options.fromSeconds;
    if (options.lengthSeconds) {
        window.endSeconds = options.fromSeconds + *options.lengthSeconds;
    }
    window.rate = options.sampleRate;
    window.longestSound = static_cast<std::int64_t>(kLongestSoundSeconds * window.rate);
    window.longestSeconds = options.longestSeconds;
    // The window's end, or an hour (a longer mix is refused once its sound's end is known).
    window.limitFrames = options.lengthSeconds ? window.frameAt(window.endSeconds - options.fromSeconds)
                                               : window.frameAt(options.longestSeconds) + 1;
    return window;
}

// Voices that can be heard in the window: started before its end, not cut before its start.
std::vector<Voice> audibleVoices(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                                 const MixWindow& window)
{
    std::vector<Voice> voices;
    std::vector<double> nextStart(names.size(), std::numeric_limits<double>::infinity());
    for (auto strike = strikes.rbegin(); strike != strikes.rend(); ++strike) {
        if (strike->keysound >= names.size() || names[strike->keysound].empty()) {
            continue;
        }
        const double cut = nextStart[strike->keysound];
        nextStart[strike->keysound] = strike->seconds;
        if (strike->seconds < window.endSeconds && cut > window.fromSeconds) {
            voices.push_back({strike->seconds, cut, strike->keysound});
        }
    }
    std::reverse(voices.begin(), voices.end());
    return voices;
}

// The file keysound `keysound`, first heard at voice `v`, plays: held by the pass, found in the
// folder or else in the fallback folder, or missing (kept with when it was first heard, to list in that order).
void findFile(FilePlan& plan, std::size_t keysound, std::size_t v, const std::string& name, KeysoundFinder& finder,
              KeysoundFinder* fallback, const HeldSounds* held)
{
    plan.looked[keysound] = true;
    plan.firstHeard[keysound] = v;
    const std::string stem = std::filesystem::path(name).stem().string();
    if (held != nullptr && held->holds(stem)) {
        const auto [entry, fresh] = plan.heldIndex.try_emplace(stem, plan.files.size());
        if (fresh) {
            plan.files.push_back({stem, true, 0, {}});
        }
        plan.fileOfKeysound[keysound] = static_cast<std::ptrdiff_t>(entry->second);
        return;
    }
    auto path = finder.find(name);
    if (path && !*path && fallback != nullptr) {
        path = fallback->find(name);
    }
    if (!path) {
        if (plan.reported.insert(name).second) {
            plan.missing.emplace_back(v, name + ": " + path.error().message);
        }
    } else if (*path) {
        const auto [entry, fresh] = plan.fileIndex.try_emplace(**path, plan.files.size());
        if (fresh) {
            plan.files.push_back({**path, false, 0, {}});
        }
        plan.fileOfKeysound[keysound] = static_cast<std::ptrdiff_t>(entry->second);
    } else if (plan.reported.insert(name).second) {
        plan.missing.emplace_back(v, name);
    }
}

// Where `voice` lands in the mix, and how far its file must be read for it.
void placeVoice(FileToRead& file, const Voice& voice, const MixWindow& window)
{
    const double plays = std::min(voice.cutSeconds, window.endSeconds) - voice.startSeconds;
    const std::int64_t frames =
        std::isfinite(plays)
            ? std::min(static_cast<std::int64_t>(std::ceil(plays * window.rate)) + 1, window.longestSound)
            : window.longestSound;
    // A mix up to its sound's end must learn where each file ends; a mix of a given length
    // needs a file only as far as it is heard in the mix (below), and not at all if it is not.
    const bool toTheEnd = !std::isfinite(window.endSeconds);
    if (toTheEnd) {
        file.maxFrames = std::max(file.maxFrames, frames);
    }
    // Frames relative to the mix's first frame; the voice may begin before it. Times far
    // outside the mix are kept out of the frame arithmetic.
    if (voice.startSeconds + kLongestSoundSeconds <= window.fromSeconds ||
        voice.startSeconds - window.fromSeconds >= static_cast<double>(window.limitFrames) / window.rate) {
        return;
    }
    Placement placement;
    placement.first = window.frameAt(voice.startSeconds - window.fromSeconds);
    placement.soundFrom = std::max<std::int64_t>(-placement.first, 0);
    placement.soundTo = std::min(window.longestSound, window.limitFrames - placement.first);
    if (std::isfinite(voice.cutSeconds) &&
        voice.cutSeconds - window.fromSeconds < window.longestSeconds + kLongestSoundSeconds) {
        placement.soundTo =
            std::min(placement.soundTo, window.frameAt(voice.cutSeconds - window.fromSeconds) - placement.first);
    }
    if (placement.soundFrom < placement.soundTo) {
        file.placements.push_back(placement);
        if (!toTheEnd) {
            file.maxFrames = std::max(file.maxFrames, placement.soundTo);
        }
    }
}

// Every voice's file and placements; Cancelled if the sink asks to stop.
Result<FilePlan> planFiles(const std::vector<Voice>& voices, const std::vector<std::string>& names,
                           const std::filesystem::path& folder, const MixOptions& options, const MixWindow& window,
                           ProgressSink& progress)
{
    FilePlan plan;
    plan.fileOfKeysound.assign(names.size(), -1);
    plan.looked.assign(names.size(), false);
    plan.firstHeard.assign(names.size(), 0);
    KeysoundFinder finder(folder);
    std::optional<KeysoundFinder> fallback;
    if (!options.fallbackFolder.empty()) {
        fallback.emplace(options.fallbackFolder);
    }
    for (std::size_t v = 0; v < voices.size(); ++v) {
        if (v % kPlacementsBetweenPolls == kPlacementsBetweenPolls - 1 && progress.stopRequested()) {
            return Error{ErrorCode::Cancelled, "mixing stopped"};
        }
        const auto keysound = voices[v].keysound;
        if (!plan.looked[keysound]) {
            findFile(plan, keysound, v, names[keysound], finder, fallback ? &*fallback : nullptr, options.held);
        }
        if (plan.fileOfKeysound[keysound] >= 0) {
            placeVoice(plan.files[static_cast<std::size_t>(plan.fileOfKeysound[keysound])], voices[v], window);
        }
    }
    for (auto& file : plan.files) {
        std::stable_sort(file.placements.begin(), file.placements.end(),
                         [](const Placement& a, const Placement& b) { return a.soundTo > b.soundTo; });
    }
    return plan;
}

// Nothing to decode when the pass holds every sound: the plan mixes as it is read. `reads` gets
// how far each file sounds.
std::shared_ptr<HeldPlan> heldPlanOf(const std::vector<FileToRead>& files, const HeldSounds* held,
                                     std::vector<FileRead>& reads)
{
    auto plan = std::make_shared<HeldPlan>();
    plan->held = held;  // none when there are no files
    for (const auto& file : files) {
        const std::int64_t frames = std::min(held->frames(file.path.string()), file.maxFrames);
        reads.push_back({std::nullopt, frames});
        plan->stems.push_back(file.path.string());
        for (const auto& placement : file.placements) {
            const std::int64_t to = std::min(placement.soundTo, frames);
            if (placement.soundFrom < to) {
                plan->entries.push_back(
                    {placement.first + placement.soundFrom, placement.soundFrom, to, plan->stems.size() - 1});
                plan->longest = std::max(plan->longest, to - placement.soundFrom);
            }
        }
    }
    std::sort(plan->entries.begin(), plan->entries.end(),
              [](const HeldPlan::Entry& a, const HeldPlan::Entry& b) { return a.start < b.start; });
    return plan;
}

// Where each keysound's sound ends (-1: no file): a file that failed part-way sounds as far as it
// decoded, and is listed.
std::vector<std::int64_t> keysoundFrames(FilePlan& plan, const std::vector<FileRead>& reads,
                                         const std::vector<std::string>& names, const MixWindow& window)
{
    std::set<std::ptrdiff_t> cut;
    std::vector<std::int64_t> framesOf(names.size(), -1);
    for (std::size_t keysound = 0; keysound < names.size(); ++keysound) {
        if (plan.fileOfKeysound[keysound] < 0) {
            continue;
        }
        const auto& file = reads[static_cast<std::size_t>(plan.fileOfKeysound[keysound])];
        framesOf[keysound] = file.frames;
        if (file.error && plan.reported.insert(names[keysound]).second) {
            plan.missing.emplace_back(plan.firstHeard[keysound], names[keysound] + ": " + file.error->message);
        }
        // Read as far as any sound is read: the file may go on.
        if (file.frames >= window.longestSound && cut.insert(plan.fileOfKeysound[keysound]).second) {
            plan.cutShort.emplace_back(plan.firstHeard[keysound], names[keysound]);
        }
    }
    return framesOf;
}

// The sentences (or names) in the order they are first heard.
std::vector<std::string> missingInOrder(std::vector<std::pair<std::size_t, std::string>> missing)
{
    std::stable_sort(missing.begin(), missing.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [heard, text] : missing) {
        names.push_back(std::move(text));
    }
    return names;
}

// When the last voice stops sounding, in seconds: its file's end, or the next strike of its keysound.
double soundEndOf(const std::vector<Voice>& voices, const std::vector<std::int64_t>& framesOf, const MixWindow& window)
{
    double soundEnd = window.fromSeconds;
    for (const auto& voice : voices) {
        if (framesOf[voice.keysound] >= 0) {
            const double length = static_cast<double>(framesOf[voice.keysound]) / window.rate;
            soundEnd = std::max(soundEnd, std::min(voice.startSeconds + length, voice.cutSeconds));
        }
    }
    return soundEnd;
}

}  // namespace

Result<ChartMixBlocks> mixKeysoundBlocks(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                                         const std::filesystem::path& folder, const MixOptions& options,
                                         ProgressSink& progress)
{
    if (auto checked = checkMixOptions(strikes, options); !checked) {
        return checked.error();
    }
    const auto window = mixWindow(options);
    const auto voices = audibleVoices(strikes, names, window);
    auto plan = planFiles(voices, names, folder, options, window, progress);
    if (!plan) {
        return plan.error();
    }
    const bool allHeld =
        std::all_of(plan->files.begin(), plan->files.end(), [](const FileToRead& file) { return file.held; });
    std::unique_ptr<BlockMix> blocks;
    std::shared_ptr<HeldPlan> held;
    std::vector<FileRead> reads;
    if (allHeld) {
        held = heldPlanOf(plan->files, options.held, reads);
        progress.advance(static_cast<std::int64_t>(plan->files.size()), static_cast<std::int64_t>(plan->files.size()));
    } else {
        blocks = std::make_unique<BlockMix>(window.limitFrames, options.sampleRate);
        auto read = readIntoMix(plan->files, options, *blocks, progress);
        if (!read) {
            return read.error();
        }
        reads = std::move(read).value();
    }
    const auto framesOf = keysoundFrames(*plan, reads, names, window);
    const auto filesRead = static_cast<std::size_t>(
        std::count_if(reads.begin(), reads.end(), [](const FileRead& file) { return !file.error || file.frames > 0; }));
    const double end = options.lengthSeconds ? window.endSeconds : soundEndOf(voices, framesOf, window);
    if (end - options.fromSeconds > options.longestSeconds) {
        return Error{ErrorCode::MixTooLong, "the chart sounds for more than an hour; mix a part of it"};
    }
    const std::int64_t totalFrames = std::max<std::int64_t>(window.frameAt(end - options.fromSeconds), 0);
    auto sound = held ? MixBlocks(std::move(held), totalFrames) : MixBlocks(std::move(blocks), totalFrames);
    return ChartMixBlocks{std::move(sound), missingInOrder(std::move(plan->missing)),
                          missingInOrder(std::move(plan->cutShort)), filesRead};
}

Result<ChartMix> mixKeysounds(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                              const std::filesystem::path& folder, const MixOptions& options, ProgressSink& progress)
{
    auto blocks = mixKeysoundBlocks(strikes, names, folder, options, progress);
    if (!blocks) {
        return blocks.error();
    }
    ChartMix mix;
    mix.missing = std::move(blocks->missing);
    mix.cutShort = std::move(blocks->cutShort);
    mix.filesRead = blocks->filesRead;
    mix.sound.sampleRate = options.sampleRate;
    mix.sound.samples = blocks->sound.assemble();

    float peak = 0;
    for (const float sample : mix.sound.samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    if (peak > kMixPeak) {
        mix.gain = kMixPeak / peak;
        for (float& sample : mix.sound.samples) {
            sample *= mix.gain;
        }
    }
    return mix;
}

std::vector<KeysoundStrike> chartStrikes(const chart::TimedChart& chart)
{
    std::vector<KeysoundStrike> strikes;
    strikes.reserve(chart.objects.size());
    for (const auto& object : chart.objects) {
        if (object.kind != chart::ObjectKind::LongNoteEnd) {
            strikes.push_back({object.seconds, object.code});
        }
    }
    return strikes;
}

Result<ChartMix> mixChart(const chart::TimedChart& chart, const std::filesystem::path& folder,
                          const MixOptions& options, ProgressSink& progress)
{
    return mixKeysounds(chartStrikes(chart), chart.keysoundNames, folder, options, progress);
}

}  // namespace zentrowe::audio
