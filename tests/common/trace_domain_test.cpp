#include <pthread.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/trace.h"
#include "common/trace_testability.h"
#include "trace_test_support.h"

namespace tracing = common::diagnostics::tracing;

namespace probe {

// Each test uses its own probe class: a domain decides its output once.
template <int N>
class TracedProbe : private tracing::TraceDomain<TracedProbe<N>> {
    using Domain = tracing::TraceDomain<TracedProbe<N>>;

public:
    int produced = 0;

    void run() {
        auto trace = Domain::create_trace("run");
        trace.message("plain text");
        trace.message([this] {
            ++produced;
            return std::string("produced text");
        });
        Domain::write_hftrace("per_read", [this] {
            ++produced;
            return std::string("hf text");
        });
    }

    void timed() {
        auto trace = Domain::create_timed_trace("timed");
        trace.timed_message("halfway");
    }

    void untimed_with_timed_message() {
        auto trace = Domain::create_trace("untimed");
        trace.timed_message("no time");
    }

    void hf() {
        auto trace = Domain::create_hftrace("hf_scope");
        Domain::write_hftrace("hf_line", [this] {
            ++produced;
            return std::string("hf produced");
        });
    }

    static bool active() { return Domain::get_trace_context()->is_active(); }
};

class Outer {
public:
    class Inner {};
};

}  // namespace probe

namespace {

class AnonymousProbe {};

std::string thread_text(pthread_t thread) {
    std::ostringstream text;
    text << reinterpret_cast<const void*>(thread);
    return text.str();
}

// Layout: time stamp, two blanks, thread, domain::name, tag, detail.
std::regex line_pattern(const std::string& body_and_tail) {
    return std::regex(R"(^\d+\.\d{3}ms  thread:0x[0-9a-f]+ )" + body_and_tail + "$");
}

TEST(TraceDomain, DomainNamesAreQualifiedClassNames) {
    EXPECT_EQ(tracing::TraceDomainHelper<probe::Outer::Inner>::hftrace_domain_name(), "hftrace::probe::Outer::Inner");
    EXPECT_EQ(tracing::TraceDomainHelper<AnonymousProbe>::hftrace_domain_name(),
              "hftrace::(anonymous namespace)::AnonymousProbe");
    EXPECT_EQ(tracing::TraceDomainHelper<probe::TracedProbe<0>>::hftrace_domain_name(),
              "hftrace::probe::TracedProbe<0>");
}

TEST(TraceDomain, RemoveFromNameErasesEveryOccurrenceIncludingNewlyFormedOnes) {
    std::string twice = "class A::class B";
    common::ClassName<int>::remove_from_name(twice, common::details::VS_CLASS_PREFIX);
    EXPECT_EQ(twice, "A::B");
    std::string nested = "clclass ass X";
    common::ClassName<int>::remove_from_name(nested, common::details::VS_CLASS_PREFIX);
    EXPECT_EQ(nested, "X");
    std::string plain = "ns::Thing";
    common::ClassName<int>::remove_from_name(plain, common::details::VS_STRUCT_PREFIX);
    EXPECT_EQ(plain, "ns::Thing");
}

TEST(TraceDomain, DisabledDomainWritesNothingAndCallsNoProducer) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::Unrelated");
    probe::TracedProbe<1> probe;
    probe.run();
    probe.timed();
    probe.hf();
    EXPECT_FALSE(probe.active());
    EXPECT_EQ(probe.produced, 0);
    EXPECT_TRUE(collected.lines().empty());
}

TEST(TraceDomain, EnabledDomainWritesEntryMessagesAndExitAndCallsProducerOnce) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<2>");
    probe::TracedProbe<2> probe;
    probe.run();
    EXPECT_TRUE(probe.active());
    EXPECT_EQ(probe.produced, 1);  // the hftrace domain stays off

    const auto lines = collected.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], line_pattern(R"(probe::TracedProbe<2>::run \[ENTER\] )"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], line_pattern(R"(probe::TracedProbe<2>::run \[TRACE\]  plain text)")))
            << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], line_pattern(R"(probe::TracedProbe<2>::run \[TRACE\]  produced text)")))
            << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], line_pattern(R"(probe::TracedProbe<2>::run \[LEAVE\] )"))) << lines[3];
    const auto thread = "thread:" + thread_text(pthread_self()) + " ";
    for (const auto& line : lines) {
        EXPECT_NE(line.find(thread), std::string::npos) << line;
    }
}

TEST(TraceDomain, HftraceDomainIsSwitchedOnByItsOwnExactEntry) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("hftrace::probe::TracedProbe<3>");
    probe::TracedProbe<3> probe;
    probe.hf();
    probe.run();
    EXPECT_FALSE(probe.active());
    EXPECT_EQ(probe.produced, 2);  // write_hftrace in hf() and in run()
    const auto lines = collected.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], line_pattern(R"(hftrace::probe::TracedProbe<3>::hf_scope \[ENTER\] )")));
    EXPECT_TRUE(std::regex_match(lines[1],
                                 line_pattern(R"(hftrace::probe::TracedProbe<3>::hf_line \[TRACE\]  hf produced)")));
    EXPECT_TRUE(std::regex_match(lines[2], line_pattern(R"(hftrace::probe::TracedProbe<3>::hf_scope \[LEAVE\] )")));
    EXPECT_TRUE(
            std::regex_match(lines[3], line_pattern(R"(hftrace::probe::TracedProbe<3>::per_read \[TRACE\]  hf text)")));
}

TEST(TraceDomain, TimedTraceCarriesElapsedTimes) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<4>");
    probe::TracedProbe<4> probe;
    probe.timed();
    probe.untimed_with_timed_message();
    const auto lines = collected.lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(std::regex_match(lines[1],
                                 line_pattern(R"(probe::TracedProbe<4>::timed \[TRACE\]  halfway \d+\.\d{3}ms )")))
            << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], line_pattern(R"(probe::TracedProbe<4>::timed \[LEAVE\]  \d+\.\d{3}ms )")))
            << lines[2];
    EXPECT_TRUE(std::regex_match(lines[4], line_pattern(R"(probe::TracedProbe<4>::untimed \[TRACE\]  no time)")))
            << lines[4];
    EXPECT_TRUE(std::regex_match(lines[5], line_pattern(R"(probe::TracedProbe<4>::untimed \[LEAVE\] )"))) << lines[5];
}

TEST(TraceDomain, DecisionIsKeptAfterTheConfigurationChanges) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<5>");
    EXPECT_TRUE(probe::TracedProbe<5>::active());
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<6>");
    EXPECT_TRUE(probe::TracedProbe<5>::active());
    EXPECT_TRUE(probe::TracedProbe<6>::active());
    tracing::testability::set_enabled_trace_domains("");
    EXPECT_TRUE(probe::TracedProbe<6>::active());
    EXPECT_FALSE(probe::TracedProbe<7>::active());
}

TEST(TraceDomain, EmptyProducerThrowsOnlyWhenEnabled) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<8>");
    auto on = tracing::TraceDomainHelper<probe::TracedProbe<8>>::get_trace_context();
    auto off = tracing::TraceDomainHelper<probe::TracedProbe<9>>::get_trace_context();
    EXPECT_THROW(on->write_message("x", std::function<std::string()>()), std::bad_function_call);
    EXPECT_NO_THROW(off->write_message("x", std::function<std::string()>()));
    EXPECT_THROW(on->write_message("y", std::function<std::string()>([]() -> std::string { throw 7; })), int);
    EXPECT_TRUE(collected.lines().empty());
}

TEST(TraceDomain, LinesOfEachThreadKeepTheirOrderAndCarryTheirThread) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains("probe::TracedProbe<10>");
    constexpr int per_thread = 200;
    std::vector<std::string> thread_names(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &thread_names] {
            thread_names[t] = thread_text(pthread_self());
            auto context = tracing::TraceDomainHelper<probe::TracedProbe<10>>::get_trace_context();
            for (int i = 0; i < per_thread; ++i) {
                context->write_message("t" + std::to_string(t), std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<int> next(4, 0);
    const std::regex pattern(line_pattern(R"(probe::TracedProbe<10>::t(\d) \[TRACE\]  (\d+))"));
    const auto lines = collected.lines();
    ASSERT_EQ(lines.size(), 4u * per_thread);
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, pattern)) << line;
        const int t = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next[t]++);
        EXPECT_NE(line.find("thread:" + thread_names[t] + " "), std::string::npos);
    }
}

}  // namespace
