#include "core/convert/percussion_mode.h"

#include "core/convert/plain_mode.h"

namespace zentrowe::convert {

void PercussionMode::noteStart(std::int64_t time, std::uint8_t, std::uint8_t note, std::uint8_t velocity)
{
    const auto code = m_chart.codeFor(note, time, time + kDurationTicks, velocity, m_starts++);
    placeNormalNote(m_chart, time, note, code);
}

}  // namespace zentrowe::convert
