#pragma once

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/workflow/preview.h"

namespace zentrowe::app {

// 试听 of a chart without a build's preview: the chart mixed from its keysound files into a
// file of the program's own.
class PreviewPass final {
public:
    using Output = Result<workflow::PreviewOutcome>;

    explicit PreviewPass(workflow::PreviewRequest request) : m_request(std::move(request)) { }

    Output operator()(ProgressSink& progress) const { return workflow::writeChartPreview(m_request, progress); }

private:
    workflow::PreviewRequest m_request;
};

}  // namespace zentrowe::app
