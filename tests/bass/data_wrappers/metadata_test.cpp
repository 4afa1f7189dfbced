#include "bass/data_wrappers/metadata.h"
#include "bass/data_wrappers/metadata_keys.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using bass::data_wrappers::MapWrapper;
using bass::data_wrappers::Metadata;

namespace {

// One row per supported type: store, read back through every access path,
// check the text form and that no other type can see the value.
template <typename T>
void check_round_trip(const T& value, const std::string& expected_text) {
    SCOPED_TRACE(expected_text);
    Metadata map;
    map.insert("key", value);
    EXPECT_TRUE(map.exists("key"));
    EXPECT_EQ(map.check_type("key"), typeid(T));
    EXPECT_EQ(map.get_value<T>("key"), value);
    EXPECT_EQ(map.get_as_string("key"), expected_text);

    T* stored = nullptr;
    ASSERT_TRUE(map.extract("key", stored));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(*stored, value);
    // The pointer is the stored value itself, not a copy.
    T* again = nullptr;
    ASSERT_TRUE(map.extract("key", again));
    EXPECT_EQ(stored, again);

    // Another type never matches: a mistyped extract nulls the pointer.
    if (!std::is_same<T, int32_t>::value) {
        int32_t dummy = 0;
        int32_t* wrong = &dummy;
        EXPECT_FALSE(map.extract("key", wrong));
        EXPECT_EQ(wrong, nullptr);
        EXPECT_THROW(map.get_value<int32_t>("key"), std::out_of_range);
    }
    // emplace replaces the value written by insert.
    Metadata moved_in;
    T copy = value;
    moved_in.emplace("key", std::move(copy));
    EXPECT_EQ(moved_in.get_value<T>("key"), value);
    EXPECT_TRUE(moved_in == map);
}

}  // namespace

TEST(Metadata, AllTwelveTypesRoundTripWithTheirTextForm) {
    check_round_trip<bool>(true, "1");
    check_round_trip<bool>(false, "0");
    check_round_trip<int8_t>(-5, "-5");
    check_round_trip<uint8_t>(200, "200");
    check_round_trip<int16_t>(-32768, "-32768");
    check_round_trip<uint16_t>(65535, "65535");
    check_round_trip<int32_t>(std::numeric_limits<int32_t>::min(), "-2147483648");
    check_round_trip<uint32_t>(4294967295u, "4294967295");
    check_round_trip<int64_t>(std::numeric_limits<int64_t>::min(), "-9223372036854775808");
    check_round_trip<uint64_t>(std::numeric_limits<uint64_t>::max(), "18446744073709551615");
    check_round_trip<float>(0.25f, "0.250000");
    check_round_trip<double>(1e-7, "0.000000");
    check_round_trip<std::string>("text with spaces", "text with spaces");
}

TEST(Metadata, StoringUnderAnExistingKeyReplacesValueAndType) {
    Metadata map;
    map.insert("k", std::string("old"));
    map.insert("k", int32_t(7));
    EXPECT_EQ(map.check_type("k"), typeid(int32_t));
    std::string untouched;
    std::string* text = &untouched;
    EXPECT_FALSE(map.extract("k", text));
    EXPECT_EQ(text, nullptr);

    map.emplace("k", std::string("new"));
    EXPECT_EQ(map.get_value<std::string>("k"), "new");
    EXPECT_EQ(map.size(), 1u);
}

TEST(Metadata, AbsentKeysAndMismatchedTypesGiveTheFixedErrors) {
    Metadata map;
    uint64_t sentinel = 1;
    uint64_t* out = &sentinel;
    EXPECT_FALSE(map.extract("missing", out));
    EXPECT_EQ(out, &sentinel) << "absent key must leave the pointer untouched";
    EXPECT_EQ(map.check_type("missing"), typeid(void));

    map.insert("u", uint64_t(3));
    try {
        map.get_value<int64_t>("u");
        FAIL() << "expected out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Could not find key 'u' in map.");
    }
    try {
        map.remove("nope");
        FAIL() << "expected out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'nope' not found.");
    }
    try {
        map.get_as_string("nope");
        FAIL() << "expected out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'nope' not found.");
    }
    map.remove("u");
    EXPECT_TRUE(map.empty());
}

TEST(Metadata, EmplaceMovesTextOut) {
    Metadata map;
    std::string long_text(100, 'x');
    map.emplace("t", std::move(long_text));
    EXPECT_TRUE(long_text.empty());
    EXPECT_EQ(map.get_value<std::string>("t"), std::string(100, 'x'));
}

TEST(Metadata, ShortStringsSurviveCopyMoveAndSwap) {
    // Short texts live inside the string object; a copy or move of the map
    // must not leave any pointer into the old object's storage.
    Metadata original;
    for (int i = 0; i < 20; ++i) {
        original.insert("k" + std::to_string(i),
                        std::string(static_cast<std::size_t>(i % 5), 'a' + static_cast<char>(i)));
    }
    Metadata copy(original);
    Metadata moved(std::move(original));
    EXPECT_EQ(original.size(), 0u);
    original.insert("reused", std::string("ok"));
    EXPECT_EQ(original.get_value<std::string>("reused"), "ok");

    Metadata assigned;
    assigned.insert("gone", int32_t(1));
    assigned = copy;
    EXPECT_FALSE(assigned.exists("gone"));
    Metadata move_assigned;
    move_assigned = std::move(assigned);
    EXPECT_TRUE(assigned.empty());

    for (int i = 0; i < 20; ++i) {
        const std::string key = "k" + std::to_string(i);
        const std::string expected(static_cast<std::size_t>(i % 5), 'a' + static_cast<char>(i));
        EXPECT_EQ(copy.get_value<std::string>(key), expected);
        EXPECT_EQ(moved.get_value<std::string>(key), expected);
        EXPECT_EQ(move_assigned.get_value<std::string>(key), expected);
    }
    // Copies are independent.
    *[&] {
        std::string* p = nullptr;
        copy.extract("k1", p);
        return p;
    }() = "changed";
    EXPECT_EQ(moved.get_value<std::string>("k1"), "b");

    Metadata other;
    other.insert("x", std::string("y"));
    other.swap(moved);
    EXPECT_EQ(moved.size(), 1u);
    EXPECT_EQ(other.size(), 20u);
}

TEST(Metadata, TextFormOfTheWholeMap) {
    Metadata map;
    std::ostringstream empty_text;
    map.write_to_stream(empty_text);
    EXPECT_EQ(empty_text.str(), "{}");

    map.insert("k", std::string("v"));
    std::ostringstream one;
    map.write_to_stream(one);
    EXPECT_EQ(one.str(), "{ (k=v) }");

    map.insert("b", std::string("x"));
    map.insert("a", int32_t(1));
    map.insert("c", int8_t(-3));
    std::ostringstream three;
    three << map;
    EXPECT_EQ(three.str(), "{ (a=1), (b=x), (c=-3), (k=v) }");
}

TEST(Metadata, FloatEqualityHasTolerance) {
    auto with_float = [](float v) {
        MapWrapper m;
        m.insert("f", v);
        return m;
    };
    EXPECT_TRUE(with_float(1.0f) == with_float(1.0000005f));
    EXPECT_FALSE(with_float(1.0f) == with_float(1.00001f));
    const MapWrapper nan = with_float(std::numeric_limits<float>::quiet_NaN());
    const MapWrapper nan_copy(nan);
    EXPECT_FALSE(nan == nan_copy);

    auto with_double = [](double v) {
        MapWrapper m;
        m.insert("d", v);
        return m;
    };
    EXPECT_TRUE(with_double(2.0) == with_double(2.0 + 5e-7));
    EXPECT_FALSE(with_double(2.0) == with_double(2.0 + 2e-6));

    // Same value under different types, or different keys, are unequal.
    MapWrapper i32;
    i32.insert("f", int32_t(1));
    MapWrapper u32;
    u32.insert("f", uint32_t(1));
    EXPECT_FALSE(i32 == u32);
    MapWrapper other_key;
    other_key.insert("g", int32_t(1));
    EXPECT_FALSE(i32 == other_key);
    EXPECT_TRUE(MapWrapper() == MapWrapper());
}

TEST(Metadata, MergeOverwritesAndKeepsTheSourceIntact) {
    Metadata target;
    target.insert("b", int32_t(9));
    target.insert("c", int32_t(3));
    Metadata source;
    source.insert("a", int32_t(1));
    source.insert("b", int32_t(2));
    target.merge(source);

    Metadata expected;
    expected.insert("a", int32_t(1));
    expected.insert("b", int32_t(2));
    expected.insert("c", int32_t(3));
    EXPECT_TRUE(target == expected);
    EXPECT_EQ(source.size(), 2u);
    // The merged values are clones, not shared.
    int32_t* b = nullptr;
    ASSERT_TRUE(target.extract("b", b));
    *b = 50;
    EXPECT_EQ(source.get_value<int32_t>("b"), 2);
}

TEST(Metadata, ValidateReportsAndOptionallyRemoves) {
    const MapWrapper::TypeMap expected{{"a", std::type_index(typeid(int32_t))},
                                       {"q", std::type_index(typeid(std::string))}};
    Metadata map;
    map.insert("a", std::string("text"));
    map.insert("z", int32_t(4));
    const auto report = map.validate(expected, false);
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report.at("a"), std::type_index(typeid(std::string)));
    EXPECT_EQ(report.at("z"), std::type_index(typeid(int32_t)));
    EXPECT_EQ(report.count("q"), 0u);
    EXPECT_EQ(map.size(), 2u);

    map.insert("q", std::string("fine"));
    map.validate(expected, true);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_TRUE(map.exists("q"));
}

TEST(Metadata, ConstructingFromAMovedMapFiltersByExpectation) {
    MapWrapper source;
    source.insert("keep", int32_t(1));
    source.insert("wrong_type", int64_t(2));
    source.insert("unexpected", std::string("x"));
    MapWrapper source_copy(source);

    Metadata all(std::move(source_copy), {});
    EXPECT_EQ(all.size(), 3u);
    EXPECT_TRUE(source_copy.empty());

    Metadata filtered(std::move(source),
                      {{"keep", std::type_index(typeid(int32_t))}, {"wrong_type", std::type_index(typeid(int32_t))}});
    EXPECT_EQ(filtered.size(), 1u);
    EXPECT_EQ(filtered.get_value<int32_t>("keep"), 1);
}

TEST(Metadata, GetKeysListsEntriesInByteOrder) {
    Metadata map;
    map.insert("b", uint64_t(1));
    map.insert("B", float(1));
    map.insert("a", std::string("x"));
    const auto keys = map.get_keys();
    std::vector<std::string> names;
    for (const auto& k : keys) names.push_back(k.first);
    EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "b"}));
    EXPECT_EQ(keys.front().second, std::type_index(typeid(float)));
    EXPECT_EQ(keys.back().second, std::type_index(typeid(uint64_t)));
}

TEST(MetadataKeys, GetReturnsAWritableReferenceOrThrows) {
    Metadata map;
    map.insert("duration", uint64_t(4000));
    const Metadata& view = map;
    uint64_t& duration = view.get<read_data::duration>();
    EXPECT_EQ(duration, 4000u);
    duration = 5;
    EXPECT_EQ(map.get_value<uint64_t>("duration"), 5u);

    map.insert("daq_scaling", 1.5);  // a double, not the float the key names
    try {
        map.get<read_data::daq_scaling>();
        FAIL() << "expected out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'daq_scaling' not found.");
    }
    try {
        Metadata().get<client_options::move_and_trace_enabled>();
        FAIL() << "expected out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'move_and_trace_enabled' not found.");
    }
    map.insert("read_id", std::string("r1"));
    EXPECT_EQ(map.get<read_data::read_id>(), "r1");
    EXPECT_STREQ(basecall_data::model_stride::name, "model_stride");
}
