#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/state_formatter.h"
#include "temp_folder.h"

namespace {

using common::diagnostics::state::IndentationFormatter;
using common::diagnostics::state::JsonFormatter;
using common::diagnostics::state::StateRecord;
using common::diagnostics::state::StateRecordType;

StateRecord begin(const std::string& name) {
    return {StateRecordType::section_begin, name, {}};
}
StateRecord end(const std::string& name) {
    return {StateRecordType::section_end, name, {}};
}
template <typename T>
StateRecord value(const std::string& key, T v) {
    return {StateRecordType::value, key, v};
}
StateRecord null_value(const std::string& key) {
    return {StateRecordType::value, key, {}};
}

TEST(JsonFormatter, EmptyListIsANewlineAndAnEmptyObject) {
    EXPECT_EQ(JsonFormatter()({}), "\n{}");
}

TEST(JsonFormatter, NestedAndEmptySectionsAllValueTypesAndARepeatedKey) {
    const std::vector<StateRecord> records = {
            begin("VemlaClient"),
            value("m_name", std::string("first")),
            value("m_count", 42LL),
            value("m_negative", -7LL),
            value("m_size", 18446744073709551615ULL),
            value("m_ratio", 0.5),
            value("m_whole", 2.0),
            value("m_on", true),
            value("m_off", false),
            null_value("m_nothing"),
            begin("BasecallClient"),
            begin("ReadBuffer"),
            end("ReadBuffer"),
            value("m_queued", 3ULL),
            end("BasecallClient"),
            value("m_name", std::string("second")),
            end("VemlaClient"),
            begin("Empty"),
            end("Empty"),
            value("top", std::string("z")),
    };
    const std::string expected = R"(
{
    "VemlaClient": {
        "m_name": "second",
        "m_count": 42,
        "m_negative": -7,
        "m_size": 18446744073709551615,
        "m_ratio": 0.5,
        "m_whole": 2.0,
        "m_on": true,
        "m_off": false,
        "m_nothing": null,
        "BasecallClient": {
            "ReadBuffer": {},
            "m_queued": 3
        }
    },
    "Empty": {},
    "top": "z"
})";
    EXPECT_EQ(JsonFormatter()(records), expected);
}

TEST(JsonFormatter, RepeatedSectionNameKeepsFirstPositionAndTakesTheLastContent) {
    const std::vector<StateRecord> records = {
            begin("a"), value("x", 1LL), end("a"), value("b", 2LL), begin("a"), value("y", 3LL), end("a"),
    };
    EXPECT_EQ(JsonFormatter()(records), "\n{\n    \"a\": {\n        \"y\": 3\n    },\n    \"b\": 2\n}");
}

TEST(JsonFormatter, StringsAreEscapedAndInvalidUtf8IsReplacedNotThrown) {
    const std::vector<StateRecord> records = {
            value("text", std::string("quote\" back\\ nl\n tab\t ctl\x01")),
            value("bad\xff", std::string("a\xc3(b")),
    };
    EXPECT_EQ(JsonFormatter()(records),
              "\n{\n    \"text\": \"quote\\\" back\\\\ nl\\n tab\\t ctl\\u0001\",\n"
              "    \"bad\xef\xbf\xbd\": \"a\xef\xbf\xbd(b\"\n}");
}

TEST(JsonFormatter, UnbalancedListsAreMalformed) {
    const std::vector<std::vector<StateRecord>> bad = {
            {begin("open")},
            {begin("a"), begin("b"), end("b")},
            {end("surplus")},
            {begin("a"), end("a"), end("a"), value("x", 1LL)},
    };
    for (const auto& records : bad) {
        try {
            JsonFormatter()(records);
            ADD_FAILURE() << "no error for a list of " << records.size();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "malformed state_table");
        }
    }
}

TEST(JsonFormatter, HeldTypesOutsideTheFiveAreRejectedByName) {
    const std::vector<StateRecord> records = {value("n", 5)};
    try {
        JsonFormatter()(records);
        FAIL() << "an int was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), std::string("invalid type held as state record value: ") + typeid(int).name());
    }
}

TEST(IndentationFormatter, IndentsSectionsAndPrintsValuesPlainly) {
    const std::vector<StateRecord> records = {
            begin("a"),
            value("x", 1LL),
            value("d", 1.5),
            value("b", true),
            null_value("n"),
            begin("inner"),
            end("inner"),
            end("a"),
            value("y", std::string("z")),
            value("u", 18446744073709551615ULL),
    };
    EXPECT_EQ(IndentationFormatter()(records),
              "\na\n    x: 1\n    d: 1.500000\n    b: true\n    n: \n    inner\ny: z\nu: 18446744073709551615\n");
    EXPECT_EQ(IndentationFormatter()({}), "\n");
}

TEST(IndentationFormatter, SurplusEndIsMalformedButMissingEndIsNot) {
    try {
        IndentationFormatter()({end("a")});
        FAIL() << "surplus end accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Malformed StateTable detected while formatting.");
    }
    EXPECT_EQ(IndentationFormatter()({begin("a"), value("x", false)}), "\na\n    x: false\n");
}

// The text must be read back by an independent parser with the same
// members, in the same order, with the same values.
TEST(JsonFormatter, OutputParsesBackWithPython) {
    const std::vector<StateRecord> records = {
            begin("VemlaClient"),
            value("m_text", std::string("first")),
            value("m_special", std::string("caf\xc3\xa9 \"q\" \\ \n\t")),
            value("m_big", 18446744073709551615ULL),
            value("m_min", static_cast<long long>(INT64_MIN)),
            value("m_double", -1.25e-7),
            value("m_flag", true),
            null_value("m_null"),
            begin("Inner"),
            end("Inner"),
            value("m_text", std::string("again")),
            end("VemlaClient"),
            value("z", 0LL),
            value("a", 1LL),
    };
    vemla_test::TempFolder folder;
    const auto json_path = (folder.path() / "state.json").string();
    {
        std::ofstream out(json_path, std::ios::binary);
        out << JsonFormatter()(records);
    }
    const auto script_path = (folder.path() / "check.py").string();
    {
        std::ofstream script(script_path);
        script << "import json, sys\n"
                  "text = open(sys.argv[1], encoding='utf-8').read()\n"
                  "assert text.startswith('\\n')\n"
                  "got = json.loads(text, object_pairs_hook=lambda pairs: pairs)\n"
                  "expected = [('VemlaClient', [('m_text', 'again'), ('m_special', 'caf\\u00e9 \"q\" \\\\ \\n\\t'), ('m_big', 18446744073709551615),\n"
                  "             ('m_min', -9223372036854775808), ('m_double', -1.25e-07), ('m_flag', True),\n"
                  "             ('m_null', None), ('Inner', [])]), ('z', 0), ('a', 1)]\n"
                  "if got != expected:\n"
                  "    print(got)\n"
                  "    sys.exit(1)\n";
    }
    const std::string command = "/usr/bin/python3 " + script_path + " " + json_path;
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
