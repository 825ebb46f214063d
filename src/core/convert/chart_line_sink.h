#pragma once

#include <string_view>

#include "core/base/result.h"

namespace zentrowe::convert {

// Where a conversion hands the chart's channel lines as they fill, so that a chart of any size
// passes through a few megabytes of memory. The lines arrive in file order; the chart file is the
// header the conversion returns followed by every block handed here.
class ChartLineSink {
public:
    virtual ~ChartLineSink() = default;
    // A failure stops the conversion, which returns the error as it stands.
    virtual Status write(std::string_view lines) = 0;
};

}  // namespace zentrowe::convert
