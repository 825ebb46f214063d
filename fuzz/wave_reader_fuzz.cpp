// Arbitrary bytes as the recording `zentrowe-cli cut` is given: the RIFF/WAVE chunk reader, then
// the cutter with a small fixed cut list under each lead-in, and once more with a stop asked for
// after the first file. Whatever the bytes: no crash, nothing but whole keysound files in the
// output folder, nothing written anywhere else, and every file written reads back as a WAV file
// with the recording's layout.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "core/base/progress.h"
#include "core/keysound/wav_cutter.h"
#include "core/keysound/wave_file.h"

namespace {

using namespace zentrowe;
namespace fs = std::filesystem;

void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "cutter rule broken: %s\n", rule);
        std::abort();
    }
}

// A folder of this process's own under the system's temporary folder, removed at exit: the
// recording is written there and the cut files go to its "out" folder, so that anything written
// beside them shows up.
class Workspace {
public:
    Workspace()
    {
        std::string pattern = (fs::temp_directory_path() / "zentrowe-wave-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made");
        m_root = pattern;
    }
    ~Workspace()
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const fs::path& root() const { return m_root; }
    fs::path recording() const { return m_root / "recording.wav"; }
    fs::path output() const { return m_root / "out"; }

    void reset(const std::uint8_t* data, std::size_t size) const
    {
        fs::remove_all(output());
        fs::create_directory(output());
        std::ofstream out(recording(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        require(out.good(), "the recording can be written");
    }

private:
    fs::path m_root;
};

// Keysound stems as a chart names them, one of them twice; one cut more than stems, as when the
// keysound file was edited after the chart was written.
const std::vector<std::string> kStems = {"A60-48-100", "A62-24-80", "A60-48-100", "A64-0-1"};
const keysound::CutList kCuts = {{60, 120, 0}, {62, 60, 120}, {60, 120, 180}, {64, 0, 300}, {65, 30, 300}};
constexpr std::int64_t kGapTicks = 24;
constexpr std::int32_t kTicksPerQuarter = 96;
constexpr std::int64_t kLastTick = 300 + 30 + kGapTicks;
// The most sample bytes one cut file may hold, so that a recording stating a byte rate of
// gigabytes a second still costs little to cut.
constexpr double kMostCutBytes = 65536;

// A tempo at which the whole cut list spans at most kMostCutBytes of this byte rate.
std::uint32_t boundedTempo(std::uint32_t byteRate)
{
    const double seconds = kMostCutBytes / static_cast<double>(byteRate);
    const double micros = seconds * 1e6 * kTicksPerQuarter / static_cast<double>(kLastTick);
    return static_cast<std::uint32_t>(std::clamp(micros, 1.0, 16777215.0));
}

class StopAfterFirstFile final : public ProgressSink {
public:
    void advance(std::int64_t done, std::int64_t) override { m_stop = done >= 1; }
    bool stopRequested() const override { return m_stop; }

private:
    bool m_stop = false;
};

// The names in a folder; every entry but `subfolder` must be a plain file.
std::set<std::string> entriesOf(const fs::path& folder, const fs::path& subfolder = {})
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        require(entry.is_regular_file() || entry.path() == subfolder, "only files are written");
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The files the report lists are the output folder's whole content, the recording's folder holds
// nothing new, and each file reads back with the recording's layout around its own samples.
void checkOutput(const Workspace& space, const std::vector<fs::path>& written, const keysound::WaveLayout& source)
{
    require(entriesOf(space.root(), space.output()) == std::set<std::string>{"recording.wav", "out"},
            "nothing is written beside the output folder");
    std::set<std::string> expected;
    for (const auto& path : written) {
        require(path.parent_path() == space.output(), "files are written into the output folder");
        expected.insert(path.filename().string());
    }
    require(entriesOf(space.output()) == expected, "the output folder holds the files written and nothing else");

    for (const auto& name : expected) {
        const auto file = keysound::RecordingFile::open(space.output() / name);
        require(file.ok(), "a cut file opens");
        const auto layout = keysound::readWaveLayout(*file);
        require(layout.ok(), "a cut file is a WAV file");
        // "JUNK" and "PAD " chunks are left out; everything else keeps its place after them.
        std::uint64_t padding = 0;
        std::vector<std::uint64_t> factOffsets;
        for (const auto& [offset, length] : source.paddingChunks) {
            padding += length;
        }
        for (const std::uint64_t fact : source.factCountOffsets) {
            std::uint64_t before = 0;
            for (const auto& [offset, length] : source.paddingChunks) {
                before += offset < fact ? length : 0;
            }
            factOffsets.push_back(fact - before);
        }
        require(layout->paddingChunks.empty(), "a cut file carries no padding chunk");
        require(layout->dataTagOffset == source.dataTagOffset - padding && layout->formatTag == source.formatTag &&
                    layout->channels == source.channels && layout->sampleRate == source.sampleRate &&
                    layout->byteRate == source.byteRate && layout->blockAlign == source.blockAlign &&
                    layout->bitsPerSample == source.bitsPerSample && layout->factCountOffsets == factOffsets,
                "a cut file keeps the recording's chunks before its samples");
        const std::uint64_t pad = layout->dataSize & 1;
        require(file->size() == layout->dataStart + layout->dataSize + pad, "the data chunk ends the file, padded");
        require(layout->dataSize % source.blockAlign == 0, "a cut file holds whole frames");
        std::uint8_t riffSize[4] = {};
        require(file->readAt(4, riffSize).ok(), "a cut file reads");
        const std::uint64_t stated = std::uint64_t{riffSize[0]} | std::uint64_t{riffSize[1]} << 8 |
                                     std::uint64_t{riffSize[2]} << 16 | std::uint64_t{riffSize[3]} << 24;
        require(stated == file->size() - 8, "the RIFF size is the file's size less 8");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Workspace space;
    space.reset(data, size);

    const auto recording = keysound::RecordingFile::open(space.recording());
    require(recording.ok(), "the recording opens");
    const auto layout = keysound::readWaveLayout(*recording);
    if (layout) {
        require(layout->dataStart == layout->dataTagOffset + 8 && layout->dataStart <= recording->size() &&
                    layout->dataSize <= recording->size() - layout->dataStart,
                "the data chunk lies inside the file");
        require(layout->blockAlign != 0 && layout->byteRate != 0, "block align and byte rate are not 0");
    }

    keysound::CutRequest request;
    request.recording = space.recording();
    request.outputFolder = space.output();
    request.keysoundStems = kStems;
    request.cuts = kCuts;
    request.ticksPerQuarter = kTicksPerQuarter;
    request.tempoMicros = layout ? boundedTempo(layout->byteRate) : 500000;
    request.gapTicks = kGapTicks;

    for (const auto leadIn : {keysound::LeadIn::Auto, keysound::LeadIn::FirstNote, keysound::LeadIn::FileStart}) {
        fs::remove_all(space.output());
        fs::create_directory(space.output());
        request.leadIn = leadIn;
        NullProgress quiet;
        const auto report = keysound::cutRecording(request, quiet);
        if (!layout) {
            require(!report && report.error().code == layout.error().code, "the cutter refuses what the reader refuses");
            require(fs::is_empty(space.output()), "a refused recording writes nothing");
            checkOutput(space, {}, {});
            continue;
        }
        if (!report && report.error().code == ErrorCode::SilentRecording) {
            require(fs::is_empty(space.output()), "a silent recording writes nothing");
            continue;
        }
        require(report.ok(), "a recording the reader accepts is cut, unless it is silent");
        require(report->written.size() == kStems.size(), "every keysound is cut");
        require(report->leadInUsed != keysound::LeadIn::Auto && (leadIn == keysound::LeadIn::Auto ||
                                                                 report->leadInUsed == leadIn),
                "the lead-in used is the one asked for, or the one Auto chose");
        checkOutput(space, report->written, *layout);
    }

    if (layout) {
        fs::remove_all(space.output());
        fs::create_directory(space.output());
        StopAfterFirstFile stop;
        const auto report = keysound::cutRecording(request, stop);
        if (report || report.error().code != ErrorCode::SilentRecording) {
            require(!report && report.error().code == ErrorCode::Cancelled, "a stop asked for ends the cut");
            checkOutput(space, {space.output() / (kStems[0] + ".wav")}, *layout);
        }
    }
    return 0;
}
