#pragma once

// Helpers of the client API's integration tests.

#include "bass/data_wrappers/data_view.h"
#include "vemla/read.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <vector>

namespace vemla_test {

// A read as a caller builds it: `samples` of generated signal.
inline vemla::Read make_read(uint64_t tag, size_t samples) {
    vemla::Read read;
    read.set_read_tag(tag);
    read.get_metadata().insert("read_id", "read_" + std::to_string(tag));
    read.get_metadata().insert("daq_offset", 4.0f);
    read.get_metadata().insert("daq_scaling", 0.5f);
    std::vector<int16_t> signal(samples);
    for (size_t i = 0; i < samples; ++i) {
        signal[i] = static_cast<int16_t>(300 + (i * 7919 + tag * 104729) % 401);
    }
    read.get_datasets().emplace(dataset::raw_data, bass::data_wrappers::DataView(std::move(signal)));
    return read;
}

// Ends the process when its scope is not left in time: a deadlock would
// otherwise hang the test run instead of failing it.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what)
        : m_thread([this, limit, what = std::move(what)] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish within %lld s (deadlock?)\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Runs a shell command; its exit status and standard output.
inline std::pair<int, std::string> run_command(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return {-1, output};
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace vemla_test
