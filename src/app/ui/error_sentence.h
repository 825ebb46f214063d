#pragma once

#include <QString>

#include "core/base/result.h"

namespace zentrowe::app {

// The window's sentence for an error of the core, in Chinese, naming the file, setting, text or
// number the error carries; a refused setting starts with "输入有误". An error whose subject the
// window does not know (a rule the core gained later) keeps the core's English sentence.
QString errorSentence(const Error& error);

}  // namespace zentrowe::app
