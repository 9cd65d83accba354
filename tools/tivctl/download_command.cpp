#include "tools/tivctl/download_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "tivlink.h"
#include "tools/common/count_text.h"
#include "tools/common/number_parse.h"
#include "tools/common/stop_signal.h"
#include "tools/common/terminal.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/progress_display.h"
#include "tools/tivctl/worker_join.h"

namespace tivctl {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr tivtools::Millis kPoll = 100ms;
// After a stop the worker publishes at most one more percent, sends that
// byte, then its reset, and only after the reset's 100 ms pause sets the
// percent back to 0: reading it this often and this long sees the last one.
constexpr tivtools::Millis kStopWatchPoll = 5ms;
constexpr tivtools::Millis kStopWatch = 200ms;

// The worker reads and writes these words whole; so do we.
int32_t load(volatile int32_t& word) { return __atomic_load_n(&word, __ATOMIC_SEQ_CST); }
void store(volatile int32_t& word, int32_t value) { __atomic_store_n(&word, value, __ATOMIC_SEQ_CST); }

tivtools::ProgressSample sample(uint32_t total, Clock::time_point start, bool finished) {
    return {load(e2_percent), total,
            std::chrono::duration_cast<tivtools::Millis>(Clock::now() - start), finished};
}

// The last percent the stopped worker published; `seen` is the last one read
// before the stop. The percent never falls until the worker ends.
int last_published_percent(int seen) {
    const Clock::time_point until = Clock::now() + kStopWatch;
    while (Clock::now() < until) {
        const int now = load(e2_percent);
        if (now == 0 && seen > 0) break;  // the worker has ended
        seen = std::max(seen, now);
        std::this_thread::sleep_for(kStopWatchPoll);
    }
    return seen;
}

std::string sent_text(int last_percent, uint32_t total) {
    const tivtools::ByteRange sent = tivtools::bytes_sent(last_percent, total);
    std::string s = std::to_string(sent.low);
    if (sent.high != sent.low) s += (sent.high == sent.low + 1 ? " or " : " to ") + std::to_string(sent.high);
    return s + " of " + tivtools::count_text(total, "byte") + " sent";
}

}  // namespace

int run_download(uint32_t address, tivtools::Millis line_interval, FILE* progress) {
    tivtools::catch_stop_signals();  // before the worker exists: never killed mid-image
    const uint32_t total = e2_len;
    ProgressDisplay display(progress, tivtools::is_terminal(fileno(progress)), line_interval);
    const Clock::time_point start = Clock::now();
    store(e2_cmd, 1);
    void* worker = download(address);

    // The worker sets e2_percent back to 0 as it ends; report the last seen.
    tivtools::ProgressSample seen = sample(total, start, false);
    bool stopped = false;
    while (load(e2_cmd) == 1) {
        if (tivtools::stop_signal()) {
            store(e2_cmd, 0);  // the worker finishes this byte and sends the reset
            stopped = true;
            seen.percent = last_published_percent(seen.percent);
            break;
        }
        seen = sample(total, start, false);
        display.update(seen);
        tivtools::sleep_unless_stopped(kPoll);
    }
    const int32_t code = join_download_worker(worker);
    tivtools::ProgressSample last = sample(total, start, !stopped && code == 0);
    if (!last.finished) last.percent = std::max(last.percent, seen.percent);
    display.finish(last);

    if (stopped) {
        std::fprintf(stderr, "tivctl: download stopped at %d%% (%s); %s %s\n", last.percent,
                     sent_text(last.percent, total).c_str(), tivtools::address_text(address).c_str(),
                     code == 0 ? "got its reset" : "may not have got its reset: frames failed");
        return tivtools::exit_status_for(tivtools::stop_signal());
    }
    if (code != 0) {
        std::fprintf(stderr, "tivctl: download to %s: some frames were not written whole\n",
                     tivtools::address_text(address).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace tivctl
