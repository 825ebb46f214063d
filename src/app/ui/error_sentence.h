#pragma once

#include <QString>

#include "core/base/result.h"
#include "core/workflow/build.h"

namespace zentrowe::app {

// The window's sentence for an error of the core, in Chinese, naming the file, setting, text or
// number the error carries; a refused setting starts with "输入有误". An error whose subject the
// window does not know (a rule the core gained later) keeps the core's English sentence.
QString errorSentence(const Error& error);

// "音色组 0 的 3 号音色", "25 号鼓组".
QString instrumentText(const audio::Instrument& instrument);

// Why a build left the BGM out, and a preset the soundfont lacks, in Chinese.
QString skipSentence(workflow::SkipReason reason, bool base62);
QString missingInstrumentSentence(const workflow::MissingInstrument& missing);
// The hint for a track whose every note is on the drum channel.
QString drumChannelHint();

}  // namespace zentrowe::app
