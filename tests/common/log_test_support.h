#pragma once

// Test helpers for observing log output: a sink that collects every record
// reaching the core, and a redirection of a standard file descriptor.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/make_shared.hpp>

#include "common/logger.h"

namespace vemla_test {

struct CollectedRecord {
    bool has_severity = false;
    int severity = -1;
    std::string channel;
    bool has_function = false;
    std::string function;
    std::string message;
};

class CollectingBackend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
public:
    void consume(const boost::log::record_view& rec) {
        CollectedRecord out;
        if (auto sev = boost::log::extract<common::logging::attributes::SeverityLevel>("Severity", rec)) {
            out.has_severity = true;
            out.severity = static_cast<int>(sev.get());
        }
        if (auto channel = boost::log::extract<std::string>("Channel", rec)) {
            out.channel = channel.get();
        }
        if (auto function = boost::log::extract<std::string>("Function", rec)) {
            out.has_function = true;
            out.function = function.get();
        }
        if (auto text = boost::log::extract<std::string>("Message", rec)) {
            out.message = text.get();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(out);
    }

    std::vector<CollectedRecord> records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }

private:
    std::mutex m_mutex;
    std::vector<CollectedRecord> m_records;
};

// Attaches a collecting sink and opens the core to every record while alive.
class RecordCollector {
public:
    RecordCollector()
        : m_backend(boost::make_shared<CollectingBackend>()),
          m_sink(boost::make_shared<boost::log::sinks::synchronous_sink<CollectingBackend>>(m_backend)) {
        auto core = boost::log::core::get();
        core->reset_filter();
        core->set_logging_enabled(true);
        core->add_sink(m_sink);
    }
    ~RecordCollector() { boost::log::core::get()->remove_sink(m_sink); }

    std::vector<CollectedRecord> records() { return m_backend->records(); }

private:
    boost::shared_ptr<CollectingBackend> m_backend;
    boost::shared_ptr<boost::log::sinks::synchronous_sink<CollectingBackend>> m_sink;
};

inline std::string read_file(const boost::filesystem::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sends a standard descriptor (1 or 2) into a temporary file until finish().
class FdCapture {
public:
    explicit FdCapture(int fd) : m_fd(fd) {
        std::fflush(nullptr);
        m_path = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("vemla-capture-%%%%-%%%%");
        m_saved = ::dup(fd);
        const int file = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, fd);
        ::close(file);
    }
    ~FdCapture() { finish(); }

    std::string finish() {
        if (m_saved >= 0) {
            std::fflush(nullptr);
            ::dup2(m_saved, m_fd);
            ::close(m_saved);
            m_saved = -1;
            m_text = read_file(m_path);
            boost::filesystem::remove(m_path);
        }
        return m_text;
    }

private:
    int m_fd;
    int m_saved = -1;
    boost::filesystem::path m_path;
    std::string m_text;
};

// A unique temporary folder removed with its contents at scope end.
class TempFolder {
public:
    TempFolder()
        : m_path(boost::filesystem::temp_directory_path() /
                 boost::filesystem::unique_path("vemla-test-%%%%-%%%%-%%%%")) {
        boost::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(m_path, ignored);
    }
    const boost::filesystem::path& path() const { return m_path; }

private:
    boost::filesystem::path m_path;
};

}  // namespace vemla_test
