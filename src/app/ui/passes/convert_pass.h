#pragma once

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/conversion.h"

namespace zentrowe::app {

// 转换到BMS: the chart and the keysound MIDI file of the chosen part, as `zentrowe-cli convert`
// writes them.
class ConvertPass final {
public:
    using Output = Result<workflow::ConversionOutcome>;

    explicit ConvertPass(workflow::ConversionRequest request) : m_request(std::move(request)) { }

    Output operator()(ProgressSink& progress) const { return workflow::runConversion(m_request, progress); }

private:
    workflow::ConversionRequest m_request;
};

}  // namespace zentrowe::app
