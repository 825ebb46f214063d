#include "core/keysound/wav_cutter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "core/base/atomic_file_writer.h"
#include "core/base/same_file.h"
#include "core/convert/keysound_name.h"
#include "core/keysound/wave_file.h"
#include "core/song/timeline.h"

namespace zentrowe::keysound {

namespace {

// The loudness scan reads through one buffer of this size.
constexpr std::size_t kScanBlock = std::size_t{1} << 20;

void putU32le(std::vector<std::uint8_t>& bytes, std::uint64_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(offset) + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::int32_t readS24le(const std::uint8_t* p)
{
    const std::uint32_t raw = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
    return static_cast<std::int32_t>(raw << 8) >> 8;
}

// ceil(0.001 × 2^(bits − 1)): the smallest magnitude that counts as sound at a sample width.
std::int64_t loudThreshold(int bits)
{
    return static_cast<std::int64_t>(std::ceil(0.001 * std::ldexp(1.0, bits - 1)));
}

// Tells whether one frame has a sample of at least 0.001 of full scale. Callers check the
// layout with `canScan` first.
class LoudnessTest {
public:
    explicit LoudnessTest(const WaveLayout& layout)
        : m_format(layout.sampleFormat),
          m_bytes(layout.bitsPerSample / 8),
          m_channels(layout.channels),
          m_threshold(layout.sampleFormat == SampleFormat::Pcm ? loudThreshold(layout.bitsPerSample) : 0)
    {
    }

    // Only whole little-endian frames of the sample widths listed here are read.
    static bool canScan(const WaveLayout& layout)
    {
        const int bits = layout.bitsPerSample;
        const bool widthKnown = layout.sampleFormat == SampleFormat::Pcm
                                    ? (bits == 8 || bits == 16 || bits == 24 || bits == 32)
                                    : (bits == 32 || bits == 64);
        return widthKnown && layout.channels >= 1 && layout.blockAlign == layout.channels * (bits / 8);
    }

    bool isLoud(const std::uint8_t* frame) const
    {
        for (int c = 0; c < m_channels; ++c) {
            const std::uint8_t* p = frame + c * m_bytes;
            if (m_format == SampleFormat::Float) {
                double value = 0;
                if (m_bytes == 4) {
                    float f;
                    std::memcpy(&f, p, 4);
                    value = f;
                } else {
                    std::memcpy(&value, p, 8);
                }
                if (std::fabs(value) >= 0.001) {  // NaN compares false: not sound
                    return true;
                }
                continue;
            }
            std::int64_t value = 0;
            switch (m_bytes) {
            case 1:
                value = std::int64_t{p[0]} - 128;  // 8-bit WAV samples are unsigned around 128
                break;
            case 2:
                value = static_cast<std::int16_t>(p[0] | (p[1] << 8));
                break;
            case 3:
                value = readS24le(p);
                break;
            default: {
                std::uint32_t raw;
                std::memcpy(&raw, p, 4);
                value = static_cast<std::int32_t>(raw);
                break;
            }
            }
            if ((value < 0 ? -value : value) >= m_threshold) {
                return true;
            }
        }
        return false;
    }

private:
    SampleFormat m_format;
    int m_bytes;
    int m_channels;
    std::int64_t m_threshold;
};

// Byte offset in the data chunk of the first frame with sound, or nothing.
Result<std::optional<std::uint64_t>> firstLoudByte(const RecordingFile& file, const WaveLayout& layout,
                                                   std::vector<std::uint8_t>& buffer)
{
    if (!LoudnessTest::canScan(layout)) {
        return std::optional<std::uint64_t>{};
    }
    const LoudnessTest test(layout);
    const std::size_t frameBytes = layout.blockAlign;
    const std::size_t blockBytes = buffer.size() - buffer.size() % frameBytes;
    const std::uint64_t wholeFrames = layout.dataSize - layout.dataSize % frameBytes;
    for (std::uint64_t done = 0; done < wholeFrames;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, wholeFrames - done));
        auto got = file.readAt(layout.dataStart + done, std::span(buffer).first(want));
        if (!got) {
            return got.error();
        }
        const std::size_t usable = *got - *got % frameBytes;
        for (std::size_t at = 0; at < usable; at += frameBytes) {
            if (test.isLoud(buffer.data() + at)) {
                return std::optional<std::uint64_t>{done + at};
            }
        }
        if (usable < want) {
            break;  // the file shrank while we read it
        }
        done += usable;
    }
    return std::optional<std::uint64_t>{};
}

// Writes `length` sample bytes taken from data positions [first, first + length): what the
// data chunk holds is copied, positions outside it are zeros.
Status copySamples(const RecordingFile& file, const WaveLayout& layout, std::int64_t first, std::int64_t length,
                   AtomicFileWriter& out)
{
    static const std::array<std::uint8_t, 65536> zeros{};
    auto writeZeros = [&](std::int64_t count) -> Status {
        while (count > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, std::ssize(zeros)));
            if (auto written = out.write(std::span(zeros).first(n)); !written) {
                return written;
            }
            count -= static_cast<std::int64_t>(n);
        }
        return {};
    };
    const auto dataSize = static_cast<std::int64_t>(layout.dataSize);
    const std::int64_t end = first + length;
    const std::int64_t copyFrom = std::clamp<std::int64_t>(first, 0, dataSize);
    const std::int64_t copyTo = std::clamp<std::int64_t>(end, 0, dataSize);

    if (auto lead = writeZeros(std::min(end, std::int64_t{0}) - first); !lead) {
        return lead;
    }
    std::int64_t at = copyFrom;
    if (at < copyTo) {
        auto copied = out.copyFrom(file.fd(), file.name(), layout.dataStart + static_cast<std::uint64_t>(at),
                                   static_cast<std::uint64_t>(copyTo - at));
        if (!copied) {
            return copied.error();
        }
        // Fewer only if the file shrank while we read it: the rest is missing, so zeros.
        at += static_cast<std::int64_t>(*copied);
    }
    return writeZeros(end - std::max(at, first));
}

// The header every keysound file starts with: the recording's bytes up to and including the
// "data" tag, less its "JUNK" and "PAD " chunks (padding by definition: a recorder may reserve
// megabytes that way, and every keysound would carry them), plus room for the data size.
struct HeaderToCopy {
    std::vector<std::uint8_t> bytes;
    std::uint64_t dataTagOffset = 0;              // in `bytes`
    std::vector<std::uint64_t> factCountOffsets;  // in `bytes`
};

Result<HeaderToCopy> readHeaderToCopy(const RecordingFile& file, const WaveLayout& layout)
{
    HeaderToCopy header;
    std::uint64_t skipped = 0;
    std::uint64_t from = 0;
    const auto copyUpTo = [&](std::uint64_t to) -> Status {
        const auto at = header.bytes.size();
        header.bytes.resize(at + static_cast<std::size_t>(to - from));
        auto got = file.readAt(from, std::span(header.bytes).subspan(at));
        if (!got) {
            return got.error();
        }
        return {};
    };
    for (const auto& [offset, length] : layout.paddingChunks) {
        if (auto copied = copyUpTo(offset); !copied) {
            return copied.error();
        }
        from = offset + length;
        skipped += length;
    }
    if (auto copied = copyUpTo(layout.dataTagOffset + 4); !copied) {
        return copied.error();
    }
    header.bytes.resize(header.bytes.size() + 4);
    header.dataTagOffset = layout.dataTagOffset - skipped;
    for (const std::uint64_t factOffset : layout.factCountOffsets) {
        std::uint64_t before = 0;
        for (const auto& [offset, length] : layout.paddingChunks) {
            if (offset < factOffset) {
                before += length;
            }
        }
        header.factCountOffsets.push_back(factOffset - before);
    }
    return header;
}

}  // namespace

double ticksToSeconds(std::int64_t ticks, std::uint32_t tempoMicros, std::int32_t ticksPerQuarter)
{
    return song::Timeline::steady(ticksPerQuarter, tempoMicros).seconds(ticks);
}

std::optional<std::int64_t> frameOffset(double seconds, std::uint32_t byteRate, std::uint16_t blockAlign)
{
    // Far beyond any file (2^62 bytes), and every double below it converts exactly; NaN fails
    // both comparisons.
    constexpr double kLimit = 4611686018427387904.0;
    const double bytes = std::nearbyint(seconds * static_cast<double>(byteRate));  // ties to even
    if (!(bytes > -kLimit && bytes < kLimit) || blockAlign == 0) {
        return std::nullopt;
    }
    const auto whole = static_cast<std::int64_t>(bytes);
    return whole - whole % blockAlign;
}

namespace {

// Every segment is placed and checked before the first file is written, so a refusal leaves the
// folder as it was.
struct Segment {
    std::int64_t first = 0;  // byte offset in the data chunk
    std::int64_t size = 0;   // bytes
};

Status checkTiming(const CutRequest& request)
{
    if (request.ticksPerQuarter <= 0) {
        return Error{ErrorCode::InvalidSetting, "keysound file: division " + std::to_string(request.ticksPerQuarter) +
                                                    " ticks per quarter note cannot time a cut"}
            .about("division")
            .withNumber(request.ticksPerQuarter);
    }
    if (request.tempoMicros == 0) {
        return Error{ErrorCode::InvalidSetting, "keysound file: a tempo of 0 cannot time a cut"}.about("tempoZero");
    }
    return {};
}

// The file each of the first `count` keysounds is cut into.
Result<std::vector<std::filesystem::path>> cutTargets(const CutRequest& request, std::size_t count)
{
    std::vector<std::filesystem::path> targets;
    targets.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& stem = request.keysoundStems[i];
        // A stem read from a chart file ("../x") must not reach outside the output folder.
        if (!convert::isAcceptableFileStem(stem)) {
            return Error{ErrorCode::InvalidSetting, "keysound " + std::to_string(i + 1) + ": \"" + stem +
                                                        "\" is not a safe file name (printable ASCII without "
                                                        "/ \\ : * ? \" < > |)"}
                .about("unsafeStem")
                .withValue(stem)
                .withNumber(static_cast<std::int64_t>(i + 1));
        }
        targets.push_back(request.outputFolder / (stem + ".wav"));
    }
    return targets;
}

Status refuseOverwrites(const RecordingFile& file, const std::vector<std::filesystem::path>& targets,
                        const std::vector<std::filesystem::path>& protectedFiles)
{
    for (const auto& target : targets) {
        if (file.isSameFileAs(target)) {
            return Error{ErrorCode::WouldOverwriteSource,
                         displayPath(target) + ": is the recording itself; nothing was cut"}
                .inFile(displayPath(target))
                .about("recording");
        }
        for (const auto& kept : protectedFiles) {
            if (isSameFile(target, kept)) {
                return Error{ErrorCode::WouldOverwriteSource, displayPath(target) + ": a keysound file would replace " +
                                                                  displayPath(kept) + "; nothing was cut"};
            }
        }
    }
    return {};
}

// The lead-in the cut uses. A recording with no sound at all (rendered without a soundfont, or
// muted) would replace good keysound files with silence; where the first sound lies also settles
// Auto.
Result<LeadIn> chooseLeadIn(const RecordingFile& file, const WaveLayout& layout, LeadIn asked, double gapSeconds)
{
    std::vector<std::uint8_t> buffer(kScanBlock);
    auto loud = firstLoudByte(file, layout, buffer);
    if (!loud) {
        return loud.error();
    }
    if (!loud->has_value() && LoudnessTest::canScan(layout)) {
        return Error{ErrorCode::SilentRecording,
                     file.name() + ": no sample reaches 0.001 of full scale, so there is nothing to cut; was it "
                                   "rendered with a soundfont?"}
            .inFile(file.name());
    }
    if (asked != LeadIn::Auto) {
        return asked;
    }
    if (!(gapSeconds > 0)) {
        return LeadIn::FileStart;  // with no gap the shift is 0 either way
    }
    const bool lateStart =
        loud->has_value() && static_cast<double>(**loud) >= gapSeconds / 2 * static_cast<double>(layout.byteRate);
    return lateStart ? LeadIn::FileStart : LeadIn::FirstNote;
}

// Where each keysound lies in the recording's data, every one shifted by `shiftSeconds`; the
// refusals for a segment no WAV file can hold. A warning in `report` for those past its end.
Result<std::vector<Segment>> placeSegments(const CutRequest& request, const WaveLayout& layout,
                                           const std::vector<std::filesystem::path>& targets, double shiftSeconds,
                                           std::uint64_t dataTagOffset, const std::string& recordingName,
                                           CutReport& report)
{
    std::vector<Segment> segments;
    segments.reserve(targets.size());
    std::size_t pastTheEnd = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const CutListEntry& cut = request.cuts[i];
        const double startSeconds =
            ticksToSeconds(cut.start, request.tempoMicros, request.ticksPerQuarter) + shiftSeconds;
        const double endSeconds =
            ticksToSeconds(cut.start + cut.length, request.tempoMicros, request.ticksPerQuarter) + shiftSeconds;
        const auto first = frameOffset(startSeconds, layout.byteRate, layout.blockAlign);
        const auto last = frameOffset(endSeconds, layout.byteRate, layout.blockAlign);
        if (!first || !last) {
            return Error{ErrorCode::InvalidSetting, displayPath(targets[i]) +
                                                        ": the keysound would lie beyond any WAV file's length "
                                                        "(the keysound file's tempo or ticks, or the recording's "
                                                        "byte rate, are too large)"}
                .inFile(displayPath(targets[i]))
                .about("beyondWaveLength");
        }
        // A keysound of no length still gets a valid file, with an empty data chunk.
        const std::int64_t size = std::max<std::int64_t>(*last - *first, 0);
        // RIFF chunks are word-aligned: an odd data size is followed by one pad byte.
        if (static_cast<std::uint64_t>(size + (size & 1)) > std::numeric_limits<std::uint32_t>::max() - dataTagOffset) {
            return Error{ErrorCode::InvalidSetting, displayPath(targets[i]) + ": " + std::to_string(size) +
                                                        " sample bytes do not fit in a WAV file"}
                .inFile(displayPath(targets[i]))
                .about("waveSize")
                .withNumber(size);
        }
        if (*first + size > static_cast<std::int64_t>(layout.dataSize)) {
            ++pastTheEnd;
        }
        segments.push_back({*first, size});
    }
    if (pastTheEnd > 0) {
        report.warnings.push_back(recordingName + " ends before " + std::to_string(pastTheEnd) + " of the " +
                                  std::to_string(targets.size()) + " keysounds end; the part past its end is silence");
    }
    return segments;
}

// One keysound file: the recording's header with this segment's sizes, then its samples.
Status writeSegment(const RecordingFile& file, const WaveLayout& layout, HeaderToCopy& header, Segment segment,
                    const std::filesystem::path& target)
{
    const auto [first, size] = segment;
    const std::int64_t pad = size & 1;
    const std::uint64_t dataTagOffset = header.dataTagOffset;
    putU32le(header.bytes, 4, static_cast<std::uint32_t>(dataTagOffset + static_cast<std::uint64_t>(size + pad)));
    putU32le(header.bytes, dataTagOffset + 4, static_cast<std::uint32_t>(size));
    for (const std::uint64_t factOffset : header.factCountOffsets) {
        putU32le(header.bytes, factOffset, static_cast<std::uint32_t>(size / layout.blockAlign));
    }
    AtomicFileWriter out(target, realFileSystem());
    if (auto status = out.open(); !status) {
        return status.error();
    }
    if (auto status = out.write(header.bytes); !status) {
        return status.error();
    }
    if (auto status = copySamples(file, layout, first, size, out); !status) {
        return status.error();
    }
    if (pad != 0) {
        const std::uint8_t zero = 0;
        if (auto status = out.write(std::span(&zero, 1)); !status) {
            return status.error();
        }
    }
    return out.commit();
}

// As many keysounds as both the chart and the keysound file have; a warning when they differ.
Result<std::size_t> cutCount(const CutRequest& request, CutReport& report)
{
    const std::size_t count = std::min(request.keysoundStems.size(), request.cuts.size());
    if (request.keysoundStems.size() != request.cuts.size()) {
        report.warnings.push_back(std::to_string(request.keysoundStems.size()) + " keysounds but " +
                                  std::to_string(request.cuts.size()) + " notes in the keysound file: cutting " +
                                  std::to_string(count));
    }
    if (count == 0) {
        return Error{ErrorCode::EmptyTrack, "no keysounds to cut (" + std::to_string(request.keysoundStems.size()) +
                                                " in the chart, " + std::to_string(request.cuts.size()) +
                                                " notes in the keysound file)"};
    }
    return count;
}

// One file per segment, in order, until done or stopped.
Status writeSegments(const RecordingFile& file, const WaveLayout& layout, HeaderToCopy& header,
                     const std::vector<Segment>& segments, const std::vector<std::filesystem::path>& targets,
                     CutReport& report, ProgressSink& progress)
{
    const std::size_t count = targets.size();
    const auto total = static_cast<std::int64_t>(count);
    progress.advance(0, total);
    for (std::size_t i = 0; i < count; ++i) {
        if (progress.stopRequested()) {
            return Error{ErrorCode::Cancelled,
                         "cut cancelled after " + std::to_string(i) + " of " + std::to_string(count) + " keysounds"};
        }
        if (auto written = writeSegment(file, layout, header, segments[i], targets[i]); !written) {
            return written.error();
        }
        report.written.push_back(targets[i]);
        progress.advance(static_cast<std::int64_t>(i + 1), total);
    }
    return {};
}

}  // namespace

Result<CutReport> cutRecording(const CutRequest& request, ProgressSink& progress)
{
    if (auto timed = checkTiming(request); !timed) {
        return timed.error();
    }
    CutReport report;
    const auto counted = cutCount(request, report);
    if (!counted) {
        return counted.error();
    }
    const std::size_t count = *counted;
    auto targets = cutTargets(request, count);
    if (!targets) {
        return targets.error();
    }
    auto opened = RecordingFile::open(request.recording);
    if (!opened) {
        return opened.error();
    }
    const RecordingFile& file = *opened;
    auto layout = readWaveLayout(file);
    if (!layout) {
        return layout.error();
    }
    if (auto refused = refuseOverwrites(file, *targets, request.protectedFiles); !refused) {
        return refused.error();
    }
    auto header = readHeaderToCopy(file, *layout);
    if (!header) {
        return header.error();
    }
    const double gapSeconds = ticksToSeconds(request.gapTicks, request.tempoMicros, request.ticksPerQuarter);
    auto leadIn = chooseLeadIn(file, *layout, request.leadIn, gapSeconds);
    if (!leadIn) {
        return leadIn.error();
    }
    report.leadInUsed = *leadIn;
    const double shiftSeconds = report.leadInUsed == LeadIn::FileStart ? gapSeconds : 0.0;
    auto segments = placeSegments(request, *layout, *targets, shiftSeconds, header->dataTagOffset, file.name(), report);
    if (!segments) {
        return segments.error();
    }
    if (auto written = writeSegments(file, *layout, *header, *segments, *targets, report, progress); !written) {
        return written.error();
    }
    return report;
}

}  // namespace zentrowe::keysound
