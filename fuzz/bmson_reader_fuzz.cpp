// Arbitrary bytes as a bmson chart given to `zentrowe-cli preview`, `check` or `cut`. Whatever
// the bytes: no crash; a refusal is CannotOpen or MeasureOutOfRange with a sentence; a chart read
// can be written as bmson and read again; its objects lie in time order at finite times from 0
// on, with codes in the code range and lanes the channels allow; and it mixes as `preview` mixes
// it.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "chart_rules.h"
#include "core/chart/bmson_reader.h"
#include "core/chart/bmson_writer.h"

using namespace zentrowe_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using zentrowe::ErrorCode;
    auto reading = readBmson(std::span<const std::uint8_t>(data, size), "fuzz.bmson");
    if (!reading) {
        const auto code = reading.error().code;
        require(code == ErrorCode::CannotOpen || code == ErrorCode::MeasureOutOfRange, "a refusal says why");
        require(reading.error().message.find("fuzz.bmson") != std::string::npos, "a refusal names the chart");
        return 0;
    }
    const std::string written = bmsonText(reading->chart);
    const auto again = readBmson({reinterpret_cast<const std::uint8_t*>(written.data()), written.size()}, "again.bmson");
    require(again.ok(), "a chart read can be written and read again");

    const TimedChart chart = timeChart(std::move(*reading));
    requireTimedChart(chart, 0);  // bmson has no lines to name
    mixWithClicks(chart);
    return 0;
}
