#pragma once

#include <cstdint>

namespace tonemirror::engine {

// Messages the engine posts to its front end; the numbers are those of the desktop program's window
// messages (first user message + n), so every front end speaks the same language.
inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t UM_PAIRS_PENDING = WM_USER + 1;  // new pairs to drain
inline constexpr std::uint32_t UM_RESULTS_RESET = WM_USER + 2;  // empty the results list
inline constexpr std::uint32_t UM_FILE_DONE = WM_USER + 4;      // a file job finished; refresh counters
inline constexpr std::uint32_t UM_SCAN_STATE = WM_USER + 5;     // job count left or returned to zero
inline constexpr std::uint32_t UM_SCORES_PENDING = WM_USER + 8; // experimental scores to drain

// Where the engine posts its messages. post() queues the message for the front end's own thread and
// returns at once: it is called from worker threads, sometimes with engine locks held, so it must
// never block on or call back into the engine.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void post(std::uint32_t message) = 0;
};

} // namespace tonemirror::engine
