#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/state_context.h"
#include "common/state_formatter.h"

namespace {

namespace state = common::diagnostics::state;
using state::StateLogger;
using state::StateProvider;
using state::StateRecord;

// Registered for its lifetime, as the client implementation does.
class ValueProvider final : public StateProvider {
public:
    ValueProvider(std::string name, long long value) : m_name(std::move(name)), m_value(value) {
        state::context::register_provider(this, m_name);
    }
    ~ValueProvider() { state::context::unregister_provider(m_name, this); }

    void report_state(StateLogger& logger) const override { logger.log("m_value", m_value); }

private:
    std::string m_name;
    long long m_value;
};

std::string report() {
    return state::context::request_state(state::JsonFormatter());
}

TEST(StateRegistry, NoProviderGivesAnEmptyReport) {
    std::vector<StateRecord> seen{{}};
    auto text = state::context::request_state([&](const std::vector<StateRecord>& records) {
        seen = records;
        return std::string("formatted");
    });
    EXPECT_EQ(text, "formatted");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(report(), "\n{}");
}

TEST(StateRegistry, ProvidersAreReportedInNameOrderNotRegistrationOrder) {
    ValueProvider b("b", 2);
    ValueProvider a("a", 1);
    ValueProvider upper("B", 3);  // byte-wise: "B" < "a" < "b"
    EXPECT_EQ(report(),
              "\n{\n    \"B\": {\n        \"m_value\": 3\n    },\n    \"a\": {\n        \"m_value\": 1\n    },\n"
              "    \"b\": {\n        \"m_value\": 2\n    }\n}");
}

TEST(StateRegistry, RegisteringUnderATakenNameReplacesAndWithdrawalOnlyErasesItsOwnEntry) {
    auto first = std::make_unique<ValueProvider>("VemlaClient", 1);
    ValueProvider second("VemlaClient", 2);
    EXPECT_EQ(report(), "\n{\n    \"VemlaClient\": {\n        \"m_value\": 2\n    }\n}");
    // The replaced provider goes away: the name still belongs to the second.
    first.reset();
    EXPECT_EQ(report(), "\n{\n    \"VemlaClient\": {\n        \"m_value\": 2\n    }\n}");
}

TEST(StateRegistry, ADestroyedProviderIsNeverAskedAgain) {
    auto provider = std::make_unique<ValueProvider>("gone", 5);
    EXPECT_NE(report().find("gone"), std::string::npos);
    provider.reset();  // under ASan a dangling entry would be a use after free
    EXPECT_EQ(report(), "\n{}");
}

class ThrowingProvider final : public StateProvider {
public:
    explicit ThrowingProvider(bool standard) : m_standard(standard) {}
    void report_state(StateLogger& logger) const override {
        logger.log("m_before", std::string("written"));
        auto section = logger.create_child_section("Open");
        if (m_standard) {
            throw std::runtime_error("boom");
        }
        throw 42;
    }

private:
    bool m_standard;
};

TEST(StateRegistry, AThrowingProviderStillYieldsAReportAndOthersAreAsked) {
    ThrowingProvider standard(true);
    ThrowingProvider other(false);
    state::context::register_provider(&standard, "p1");
    state::context::register_provider(&other, "p2");
    ValueProvider after("p3", 9);
    const std::string text = report();
    state::context::unregister_provider("p1", &standard);
    state::context::unregister_provider("p2", &other);
    EXPECT_EQ(text,
              "\n{\n"
              "    \"p1\": {\n        \"m_before\": \"written\",\n        \"Open\": {},\n"
              "        \"exception reporting state\": \"boom\"\n    },\n"
              "    \"p2\": {\n        \"m_before\": \"written\",\n        \"Open\": {},\n"
              "        \"error reporting state\": \"unknown\"\n    },\n"
              "    \"p3\": {\n        \"m_value\": 9\n    }\n}");
}

TEST(StateRegistry, AProviderMayRegisterAnotherWhileReporting) {
    struct Registering final : StateProvider {
        ValueProvider* late = nullptr;
        void report_state(StateLogger& logger) const override {
            state::context::register_provider(late, "late");
            logger.log("m_ok", true);
        }
    };
    ValueProvider late_provider("late_placeholder", 1);
    Registering registering;
    registering.late = &late_provider;
    state::context::register_provider(&registering, "registering");
    const auto first = report();
    const auto second = report();
    state::context::unregister_provider("registering", &registering);
    state::context::unregister_provider("late", &late_provider);
    // Not seen by the collection during which it was registered.
    EXPECT_EQ(first.find("\"late\""), std::string::npos);
    EXPECT_NE(second.find("\"late\""), std::string::npos);
}

TEST(StateRegistry, EmptyFormatterThrowsAfterCollecting) {
    EXPECT_THROW(state::context::request_state(state::StateFormatter()), std::bad_function_call);
}

// A provider withdrawn while a report on another thread is inside it: the
// withdrawal must wait, so that destroying the provider right after it is safe.
class BlockingProvider final : public StateProvider {
public:
    void report_state(StateLogger& logger) const override {
        entered.set_value();
        release.get_future().wait();
        logger.log("m_value", m_value);  // reads the provider after waiting
    }

    mutable std::promise<void> entered;
    mutable std::promise<void> release;
    std::atomic<bool> withdrawn{false};
    long long m_value = 11;
};

TEST(StateRegistry, WithdrawalWaitsForAReportInProgress) {
    auto provider = std::make_unique<BlockingProvider>();
    auto* raw = provider.get();
    state::context::register_provider(raw, "blocking");
    auto entered = raw->entered.get_future();

    std::string text;
    std::thread reporter([&] { text = report(); });
    entered.wait();

    std::thread withdrawer([&] {
        state::context::unregister_provider("blocking", raw);
        raw->withdrawn = true;
        provider.reset();
    });
    // Let the withdrawal reach its wait: the entry is gone from the map first.
    while (state::context::StateLogging::context().copy_providers().count("blocking") != 0) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 1000; ++i) {
        std::this_thread::yield();
    }
    bool withdrawn_early = raw->withdrawn.load();
    raw->release.set_value();
    reporter.join();
    withdrawer.join();

    EXPECT_FALSE(withdrawn_early);
    EXPECT_EQ(text, "\n{\n    \"blocking\": {\n        \"m_value\": 11\n    }\n}");
    EXPECT_EQ(report(), "\n{}");
}

}  // namespace
