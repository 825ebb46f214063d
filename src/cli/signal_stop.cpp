#include "cli/signal_stop.h"

#include <csignal>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "cli/output.h"

namespace zentrowe::cli {

namespace {

volatile std::sig_atomic_t g_signal = 0;

#if defined(_WIN32)
// Windows has no SIGHUP; a console window closed stops the pass as SIGTERM does elsewhere.
constexpr int kHangUp = 1;

// Ctrl+C and Ctrl+Break arrive here, on a thread of their own, rather than as signals. The first
// one only sets the flag; a second one of any kind goes on to the default handler, which ends
// the program at once.
BOOL WINAPI rememberConsoleEvent(DWORD event)
{
    if (g_signal != 0) {
        return FALSE;
    }
    g_signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    return TRUE;
}
#else
constexpr int kHangUp = SIGHUP;

extern "C" void rememberSignal(int signal)
{
    g_signal = signal;
}
#endif

}  // namespace

SignalStop::SignalStop(ProgressSink* shown) : m_shown(shown)
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(rememberConsoleEvent, TRUE);
#else
    struct sigaction action { };
    action.sa_handler = rememberSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes carry on after the handler; the pass stops at its next poll.
    action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

void SignalStop::advance(std::int64_t done, std::int64_t total)
{
    if (m_shown != nullptr) {
        m_shown->advance(done, total);
    }
}

void SignalStop::beginStage(ProgressStage stage)
{
    if (m_shown != nullptr) {
        m_shown->beginStage(stage);
    }
}

bool SignalStop::stopRequested() const
{
    return g_signal != 0;
}

std::optional<int> SignalStop::received()
{
    if (g_signal == 0) {
        return std::nullopt;
    }
    return static_cast<int>(g_signal);
}

std::optional<int> SignalStop::exitCodeIfStopped(const char* outcome)
{
    const auto signal = received();
    if (!signal) {
        return std::nullopt;
    }
    const char* name = *signal == SIGINT    ? "SIGINT"
                       : *signal == SIGTERM ? "SIGTERM"
                       : *signal == kHangUp ? "SIGHUP"
                                            : "a signal";
    reportError(std::string("stopped by ") + name + "; " + outcome);
    return 128 + *signal;
}

}  // namespace zentrowe::cli
