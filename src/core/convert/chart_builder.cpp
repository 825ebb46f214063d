#include "core/convert/chart_builder.h"

#include <algorithm>
#include <string>

namespace zentrowe::convert {

namespace {

Error measureOutOfRange(std::string_view what, std::int64_t measure, bool exactChart)
{
    const std::string holds =
        exactChart ? "a bmson chart here holds " + std::to_string(kExactMeasureLimit) + " measures"
                   : "a BMS chart holds measures 000 to 999 only; a bmson chart (--chart-format bmson) holds " +
                         std::to_string(kExactMeasureLimit);
    return Error{ErrorCode::MeasureOutOfRange,
                 std::string(what) + " falls in measure " + std::to_string(measure) + ", but " + holds}
        .withNumber(measure);
}

}  // namespace

ChartBuilder::ChartBuilder(int bufferCount, std::int32_t ticksPerMeasure, const ConversionSettings& settings,
                           bool lengthsMatter, chart::Chart* lines)
    : m_keysounds(settings.startValue, settings.base62),
      m_merge{settings.merge.velocityStep, lengthsMatter ? settings.merge.lengthStep : 0},
      m_bufferCount(bufferCount),
      m_ticksPerMeasure(ticksPerMeasure),
      m_written(static_cast<std::size_t>(kMeasureLimit * bufferCount)),
      m_lines(lines)
{
}

void ChartBuilder::fail(Error error)
{
    if (!m_error) {
        m_error = std::move(error);
    }
}

std::optional<Error> ChartBuilder::takeError()
{
    if (m_exhausted) {
        return codesExhausted();
    }
    return std::move(m_error);
}

std::uint16_t ChartBuilder::codeFor(std::uint8_t note, std::int64_t startTime, std::int64_t endTime,
                                    std::uint8_t velocity, std::uint64_t startOrder)
{
    const std::int64_t duration = std::min(endTime - startTime, kLongestDurationTicks);
    const std::uint32_t variant = m_variants != nullptr ? m_variants->variantOf(startOrder) : 0;
    if (m_merge.active() || m_exhausted) {
        m_unmerged.emplace(note, duration, velocity, variant);
    }
    const std::uint8_t mergedVelocityValue = mergedVelocity(velocity, m_merge.velocityStep);
    const std::int64_t mergedLength = mergedDuration(duration, m_merge.lengthStep, m_ticksPerMeasure);
    if (m_exhausted) {
        if (!m_keysounds.find(note, mergedLength, mergedVelocityValue, variant)) {
            m_unnumbered.emplace(note, mergedLength, mergedVelocityValue, variant);
        }
        return 1;
    }
    const std::size_t known = m_keysounds.size();
    const auto index = m_keysounds.findOrAdd(note, mergedLength, mergedVelocityValue, startTime, variant);
    if (index && m_keysounds.size() > known && m_variants != nullptr) {
        m_keysounds.setSuffix(*index, m_variants->suffixOf(variant));
    }
    if (index && m_keysounds.size() > known && startOrder < m_startSources.size()) {
        m_keysounds.setSource(*index, m_startSources[startOrder]);
    }
    if (!index) {
        m_exhausted = true;
        m_unnumbered.emplace(note, mergedLength, mergedVelocityValue, variant);
        if (!m_merge.active()) {
            // Unmerged, the table holds every keysound met so far as it is.
            for (std::size_t k = 0; k < m_keysounds.size(); ++k) {
                const auto& entry = m_keysounds[k];
                m_unmerged.emplace(entry.note, entry.duration, entry.velocity, m_keysounds.variant(k));
            }
            m_unmerged.emplace(note, duration, velocity, variant);
        }
        return 1;  // any code the chart can write; the chart is refused
    }
    m_lastKeysound = *index;
    // Without limits the lines only mark slots as taken: any code the text can spell will do.
    const int largest = largestCode(m_keysounds.base62());
    return static_cast<std::uint16_t>((m_keysounds.codeValue(*index) - 1) % largest + 1);
}

void ChartBuilder::reportPlacedNotes(PlacedNoteSink& sink)
{
    m_placed = &sink;
    m_keysounds.liftCodeLimit();
}

void ChartBuilder::notePlaced(std::int64_t startTick, std::optional<int> lane, std::int64_t heldTicks)
{
    if (m_placed != nullptr) {
        m_placed->notePlaced({startTick, lane, m_lastKeysound, heldTicks});
    }
}

KeysoundTable& ChartBuilder::keysounds()
{
    if (m_merge.active()) {
        m_keysounds.setMergedAway(m_unmerged.size() - m_keysounds.size());
    }
    return m_keysounds;
}

Error ChartBuilder::codesExhausted() const
{
    const bool base62 = m_keysounds.base62();
    const int startValue = m_keysounds.startValue();
    const std::string startCode = encodeCode(startValue, base62);
    const std::size_t needed = m_keysounds.size() + m_unnumbered.size();
    auto fits = [&](std::size_t count, bool inBase62) {
        return static_cast<std::int64_t>(count) <= largestCode(inBase62) - startValue;
    };
    // Choices that would number the track, mildest first; bmson charts number nothing.
    std::vector<std::string> choices{"as a bmson chart (--chart-format bmson)"};
    if (!base62 && fits(needed, true)) {
        choices.push_back("with base-62 codes (--codes 62)");
    }
    // Merging steps tried on the keysounds as the notes made them, each at least as coarse as
    // what was asked for.
    constexpr std::array<std::pair<int, std::int64_t>, 6> kSteps{{{0, 1}, {8, 0}, {8, 1}, {16, 4}, {32, 12}, {64, 48}}};
    for (const auto& [velocityStep, lengthStep] : kSteps) {
        const KeysoundMerge merge{
            std::max(velocityStep, m_merge.velocityStep),
            m_merge.lengthStep == 0 && lengthStep == 0 ? 0 : std::max(lengthStep, m_merge.lengthStep)};
        if (merge.velocityStep == m_merge.velocityStep && merge.lengthStep == m_merge.lengthStep) {
            continue;
        }
        IdentitySet merged;
        for (const auto& identity : m_unmerged) {
            // A variant keeps its state as merged with the steps asked for.
            merged.emplace(identity.note(), mergedDuration(identity.duration, merge.lengthStep, m_ticksPerMeasure),
                           mergedVelocity(identity.velocity(), merge.velocityStep), identity.variant);
        }
        if (fits(merged.size(), base62)) {
            std::string choice = "merged with";
            if (merge.velocityStep > 1) {
                choice += " --velocity-step " + std::to_string(merge.velocityStep);
            }
            if (merge.lengthStep > 0) {
                choice += " --length-step " + std::to_string(merge.lengthStep);
            }
            choices.push_back(choice + " (" + std::to_string(merged.size()) + " keysounds)");
            break;
        }
    }
    std::string message = m_whoseNotes + " " + std::to_string(needed) +
                          " keysounds, more than the codes after start code " + startCode + " up to " +
                          (base62 ? "zz" : "ZZ") + " can number; it would fit ";
    for (std::size_t k = 0; k < choices.size(); ++k) {
        message += (k == 0 ? "" : k + 1 == choices.size() ? " or " : ", ") + choices[k];
    }
    return Error{ErrorCode::CodesExhausted, message}
        .about("keysounds")
        .withValue(startCode)
        .withNumber(static_cast<std::int64_t>(needed));
}

bool ChartBuilder::enterNote(std::int64_t time)
{
    const std::int64_t measure = measureOf(time);
    if (measure >= (m_placed == nullptr ? kMeasureLimit : kExactMeasureLimit)) {
        fail(measureOutOfRange("a note", measure, m_placed != nullptr));
        return false;
    }
    if (measure != m_measure) {
        flush(false);
        m_measure = measure;
    }
    m_lastPlacedTick = std::max(m_lastPlacedTick, time);
    return true;
}

bool ChartBuilder::taken(int buffer, int slot) const
{
    if (m_buffers[static_cast<std::size_t>(buffer)][static_cast<std::size_t>(slot)] != 0) {
        return true;
    }
    if (m_measure >= kMeasureLimit) {
        const auto found = m_writtenLater.find(m_measure * m_bufferCount + buffer);
        return found != m_writtenLater.end() && found->second.test(static_cast<std::size_t>(slot));
    }
    return writtenBefore(m_measure, buffer).test(static_cast<std::size_t>(slot));
}

void ChartBuilder::put(int buffer, int slot, std::uint16_t code)
{
    m_buffers[static_cast<std::size_t>(buffer)][static_cast<std::size_t>(slot)] = code;
    m_used[static_cast<std::size_t>(buffer)] = true;
}

void ChartBuilder::putBackground(int slot, std::uint16_t code)
{
    // Lines fill slot by slot from the first, so the first line free at a slot is the one after
    // those already holding it.
    auto& codes = m_background[static_cast<std::size_t>(slot)];
    codes.push_back(code);
    m_backgroundLines = std::max(m_backgroundLines, codes.size());
}

bool ChartBuilder::putEndMarker(std::int64_t time, int buffer, std::int64_t measure, int slot, std::uint16_t code)
{
    if (measure >= (m_placed == nullptr ? kMeasureLimit : kExactMeasureLimit)) {
        fail(measureOutOfRange("a long note's end", measure, m_placed != nullptr));
        return false;
    }
    m_lastPlacedTick = std::max(m_lastPlacedTick, time);
    if (measure == m_measure) {
        put(buffer, slot, code);
        return true;
    }
    m_lines.appendSingleCode(measure, kLaneChannels[static_cast<std::size_t>(buffer)], slot, code);
    writtenBefore(measure, buffer).set(static_cast<std::size_t>(slot));
    return true;
}

void ChartBuilder::flush(bool final)
{
    for (int buffer = 0; buffer < m_bufferCount; ++buffer) {
        const auto index = static_cast<std::size_t>(buffer);
        if (!m_used[index] && !final) {
            continue;
        }
        m_lines.appendLine(m_measure, kLaneChannels[index], m_buffers[index], buffer == m_bufferCount - 1);
        if (m_used[index]) {
            auto& written = writtenBefore(m_measure, buffer);
            for (int slot = 0; slot < kSlots; ++slot) {
                if (m_buffers[index][static_cast<std::size_t>(slot)] != 0) {
                    written.set(static_cast<std::size_t>(slot));
                }
            }
            m_buffers[index].fill(0);
            m_used[index] = false;
        }
    }
    // Each background line is a layer of its own, so a measure collected again simply adds lines.
    SlotCodes line{};
    for (std::size_t k = 0; k < m_backgroundLines; ++k) {
        for (std::size_t slot = 0; slot < line.size(); ++slot) {
            line[slot] = k < m_background[slot].size() ? m_background[slot][k] : 0;
        }
        m_lines.appendLine(m_measure, chart::kBackgroundChannel, line, true);
    }
    if (m_backgroundLines != 0) {
        for (auto& codes : m_background) {
            codes.clear();
        }
        m_backgroundLines = 0;
    }
}

std::bitset<kSlots>& ChartBuilder::writtenBefore(std::int64_t measure, int buffer)
{
    if (measure >= kMeasureLimit) {
        // Only without the measure limit: kept sparse, as a song may leap far ahead.
        return m_writtenLater[measure * m_bufferCount + buffer];
    }
    return m_written[static_cast<std::size_t>(measure * m_bufferCount + buffer)];
}

const std::bitset<kSlots>& ChartBuilder::writtenBefore(std::int64_t measure, int buffer) const
{
    return m_written[static_cast<std::size_t>(measure * m_bufferCount + buffer)];
}

}  // namespace zentrowe::convert
