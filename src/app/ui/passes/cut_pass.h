#pragma once

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/keysound/wav_cutter.h"

namespace zentrowe::app {

// 切割: the keysound files cut from a rendering of the keysound MIDI file, as `zentrowe-cli cut`
// cuts them. The plan is a value: it refers to nothing the window may change meanwhile.
class CutPass final {
public:
    using Output = Result<keysound::CutReport>;

    explicit CutPass(keysound::CutRequest request) : m_request(std::move(request)) { }

    Output operator()(ProgressSink& progress) const { return keysound::cutRecording(m_request, progress); }

private:
    keysound::CutRequest m_request;
};

}  // namespace zentrowe::app
