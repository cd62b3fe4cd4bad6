// Collects the records of the Boost.Log core while a test runs, so tests can
// check texts and severities. Adding a sink also keeps Boost.Log's default
// console sink from printing them.
#pragma once

#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/trivial.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/smart_ptr/make_shared_object.hpp>

#include <mutex>
#include <string>
#include <vector>

namespace QelTest {

struct LogEntry {
    boost::log::trivial::severity_level severity;
    std::string text;
};

class LogCapture {
public:
    LogCapture() : backend_(boost::make_shared<Backend>()) {
        sink_ = boost::make_shared<Sink>(backend_);
        boost::log::core::get()->add_sink(sink_);
    }
    ~LogCapture() { boost::log::core::get()->remove_sink(sink_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> Entries() const { return backend_->Entries(); }

    bool Contains(boost::log::trivial::severity_level severity, const std::string& text) const {
        for (const LogEntry& e : Entries()) {
            if (e.severity == severity && e.text == text) {
                return true;
            }
        }
        return false;
    }

    bool ContainsPrefix(boost::log::trivial::severity_level severity, const std::string& prefix) const {
        for (const LogEntry& e : Entries()) {
            if (e.severity == severity && e.text.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    // True when a record of this severity contains `part`.
    bool ContainsText(boost::log::trivial::severity_level severity, const std::string& part) const {
        for (const LogEntry& e : Entries()) {
            if (e.severity == severity && e.text.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    class Backend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
    public:
        void consume(const boost::log::record_view& record) {
            LogEntry entry{boost::log::trivial::info, {}};
            if (auto sev = boost::log::extract<boost::log::trivial::severity_level>("Severity", record)) {
                entry.severity = *sev;
            }
            if (auto msg = boost::log::extract<std::string>("Message", record)) {
                entry.text = *msg;
            }
            std::lock_guard lock(mutex_);
            entries_.push_back(std::move(entry));
        }
        std::vector<LogEntry> Entries() const {
            std::lock_guard lock(mutex_);
            return entries_;
        }

    private:
        mutable std::mutex mutex_;
        std::vector<LogEntry> entries_;
    };
    using Sink = boost::log::sinks::synchronous_sink<Backend>;

    boost::shared_ptr<Backend> backend_;
    boost::shared_ptr<Sink> sink_;
};

}  // namespace QelTest
