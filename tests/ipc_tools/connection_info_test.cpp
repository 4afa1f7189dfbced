#include "ipc_tools/connection_info.h"
#include "ipc_tools/registered_client_options.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <typeindex>

using ipc_tools::ConnectionInfo;
namespace cs = ipc_tools::connection_string;
namespace fs = boost::filesystem;

namespace {

// The 34 options in the order the server expects them, with their types,
// written out independently of the library's table.
struct Option {
    const char* key;
    std::type_index type;
};

const std::vector<Option>& expected_options() {
    static const std::vector<Option> options{
            {"barcode_kits", typeid(std::string)},
            {"num_extra_bases_trim", typeid(int32_t)},
            {"require_barcodes_both_ends", typeid(bool)},
            {"allow_inferior_barcodes", typeid(bool)},
            {"detect_barcodes", typeid(bool)},
            {"detect_adapter", typeid(bool)},
            {"detect_primer", typeid(bool)},
            {"detect_mid_strand_barcodes", typeid(bool)},
            {"detect_mid_strand_adapter", typeid(bool)},
            {"min_score_barcode_front", typeid(float)},
            {"min_score_barcode_rear", typeid(float)},
            {"min_score_barcode_mask", typeid(float)},
            {"min_score_barcode_mid", typeid(float)},
            {"min_score_adapter_mid", typeid(float)},
            {"min_score_adapter", typeid(float)},
            {"min_score_primer", typeid(float)},
            {"trim_barcodes", typeid(bool)},
            {"trim_adapters", typeid(bool)},
            {"trim_primers", typeid(bool)},
            {"lamp_kit", typeid(std::string)},
            {"min_score_lamp", typeid(float)},
            {"min_score_lamp_mask", typeid(float)},
            {"min_score_lamp_target", typeid(float)},
            {"additional_lamp_context_bases", typeid(uint64_t)},
            {"min_length_lamp_context", typeid(uint64_t)},
            {"min_length_lamp_target", typeid(uint64_t)},
            {"align_ref", typeid(std::string)},
            {"align_type", typeid(std::string)},
            {"bed_file", typeid(std::string)},
            {"move_and_trace_enabled", typeid(bool)},
            {"post_out", typeid(bool)},
            {"do_read_splitting", typeid(bool)},
            {"max_read_split_depth", typeid(uint32_t)},
            {"min_score_read_splitting", typeid(float)},
    };
    return options;
}

// Fills every option with a value that differs from its neighbours'.
bass::data_wrappers::Metadata all_options_set() {
    bass::data_wrappers::Metadata params;
    int n = 0;
    for (const auto& option : expected_options()) {
        ++n;
        const std::string key = option.key;
        if (option.type == typeid(std::string)) {
            params.insert(key, key == "align_ref"  ? std::string("/refs/genome.mmi")
                               : key == "bed_file" ? std::string("/refs/targets.bed")
                                                   : "value_" + std::to_string(n));
        } else if (option.type == typeid(bool)) {
            params.insert(key, n % 2 == 0);
        } else if (option.type == typeid(int32_t)) {
            params.insert(key, int32_t(-n));
        } else if (option.type == typeid(uint32_t)) {
            params.insert(key, uint32_t(4000000000u + n));
        } else if (option.type == typeid(uint64_t)) {
            params.insert(key, uint64_t(n));
        } else {
            params.insert(key, float(n) + 0.25f);
        }
    }
    return params;
}

class CurrentDirectory {
public:
    explicit CurrentDirectory(const fs::path& path) : m_previous(fs::current_path()) { fs::current_path(path); }
    ~CurrentDirectory() { fs::current_path(m_previous); }

private:
    fs::path m_previous;
};

}  // namespace

TEST(RegisteredClientOptions, ThirtyFourKeysInOrderWithTypes) {
    const client_options::RegisteredClientOptions registered;
    ASSERT_EQ(registered.keys().size(), expected_options().size());
    ASSERT_EQ(registered.types().size(), expected_options().size());
    auto key = registered.keys().begin();
    for (const auto& option : expected_options()) {
        EXPECT_EQ(*key++, option.key);
        EXPECT_EQ(registered.types().at(option.key), option.type) << option.key;
    }
}

TEST(ConnectionString, WritesConfigTimeoutNameAndRegisteredOptionsOnly) {
    ConnectionInfo info;
    info.config = "cfg";
    info.client_name = "me";
    info.timeout_interval = 15000;
    info.params.insert("detect_barcodes", true);
    info.params.insert("min_score_barcode_front", 60.0f);
    info.params.insert("foo", int32_t(1));
    EXPECT_EQ(info.build_connection_string(),
              "cfg:>timeout_interval=15000>client_name=me>detect_barcodes=1>min_score_barcode_front="
              "60.000000");
}

TEST(ConnectionString, OptionsFollowRegistrationOrderNotInsertionOrder) {
    ConnectionInfo info;
    info.config = "cfg";
    info.params.insert("bed_file", std::string("/data/t.bed"));
    info.params.insert("align_type", std::string("full"));
    info.params.insert("barcode_kits", std::string("KIT-1 KIT-2"));
    EXPECT_EQ(info.build_connection_string(),
              "cfg:>timeout_interval=0>client_name=>barcode_kits=KIT-1 KIT-2>align_type=full>"
              "bed_file=/data/t.bed");
}

TEST(ConnectionString, FieldsTravelOnlyThroughParams) {
    ConnectionInfo info;
    info.config = "cfg";
    info.barcode_kits = "KIT-1";
    info.align_type = "full";
    EXPECT_EQ(info.build_connection_string(), "cfg:>timeout_interval=0>client_name=");
}

TEST(ConnectionString, AllOptionsRoundTripThroughParse) {
    ConnectionInfo info;
    info.config = "dna_config";
    info.client_name = "client one";
    info.timeout_interval = 4294967295u;
    info.params = all_options_set();
    const std::string text = info.build_connection_string();

    // Keys appear in registration order.
    std::size_t last = 0;
    for (const auto& option : expected_options()) {
        const std::size_t at = text.find(std::string(">") + option.key + "=");
        ASSERT_NE(at, std::string::npos) << option.key;
        EXPECT_GT(at, last) << option.key;
        last = at;
    }

    std::string error;
    const auto [ok, parsed] = ConnectionInfo::parse(text, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(parsed.config, "dna_config");
    EXPECT_EQ(parsed.client_name, "client one");
    EXPECT_EQ(parsed.timeout_interval, 4294967295u);
    EXPECT_EQ(parsed.params, info.params);
    for (const auto& option : expected_options()) {
        EXPECT_EQ(std::type_index(parsed.params.check_type(option.key)), option.type) << option.key;
    }
    EXPECT_EQ(parsed.barcode_kits, "value_1");
    EXPECT_EQ(parsed.align_ref, "/refs/genome.mmi");
    EXPECT_EQ(parsed.bed_file, "/refs/targets.bed");
    EXPECT_EQ(parsed.align_type, "value_28");
    EXPECT_EQ(parsed.priority, 2u);
}

TEST(ConnectionString, FloatsIgnoreTheProcessLocale) {
    // Compile a locale with a decimal comma into a private folder; skip
    // where the locale sources are not installed.
    const fs::path folder = fs::temp_directory_path() / fs::unique_path("vemla-locale-%%%%%%%%");
    fs::create_directories(folder);
    const std::string command = "localedef -c -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() +
                                "' >/dev/null 2>&1";
    const int built = std::system(command.c_str());
    setenv("LOCPATH", folder.c_str(), 1);
    const char* set = built == 0 ? std::setlocale(LC_ALL, "de_DE.UTF-8") : nullptr;
    if (set == nullptr) {
        unsetenv("LOCPATH");
        fs::remove_all(folder);
        GTEST_SKIP() << "no locale with a decimal comma available";
    }
    char probe[32];
    std::snprintf(probe, sizeof probe, "%f", 60.0);

    ConnectionInfo info;
    info.config = "cfg";
    info.params.insert("min_score_barcode_front", 60.0f);
    const std::string text = info.build_connection_string();

    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    fs::remove_all(folder);
    ASSERT_STREQ(probe, "60,000000");  // the locale really was active
    EXPECT_EQ(text, "cfg:>timeout_interval=0>client_name=>min_score_barcode_front=60.000000");
}

TEST(ConnectionString, FloatsIgnoreTheGlobalCppLocale) {
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
        char do_thousands_sep() const override { return '.'; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    ConnectionInfo info;
    info.config = "cfg";
    info.timeout_interval = 15000;
    info.params.insert("min_score_lamp", 1234.5f);
    info.params.insert("additional_lamp_context_bases", uint64_t(1000000));
    const std::string text = info.build_connection_string();
    std::string error;
    const auto [ok, parsed] = ConnectionInfo::parse(text, error);
    std::locale::global(previous);
    EXPECT_EQ(text,
              "cfg:>timeout_interval=15000>client_name=>min_score_lamp=1234.500000>"
              "additional_lamp_context_bases=1000000");
    ASSERT_TRUE(ok);
    EXPECT_EQ(parsed.params.get_value<float>("min_score_lamp"), 1234.5f);
}

TEST(ConnectionString, SeparatorsInsideNamesOrValuesAreRefused) {
    auto build = [](const std::string& config, const std::string& name, const std::string& kits) {
        ConnectionInfo info;
        info.config = config;
        info.client_name = name;
        info.params.insert("barcode_kits", kits);
        return info.build_connection_string();
    };
    EXPECT_NO_THROW(build("cfg", "name", "KIT-1"));
    EXPECT_THROW(build("cfg:x", "name", "KIT-1"), std::runtime_error);
    EXPECT_THROW(build("cfg", "na>me", "KIT-1"), std::runtime_error);
    EXPECT_THROW(build("cfg", "name", "KIT-1>detect_barcodes=0"), std::runtime_error);
    EXPECT_THROW(build("cfg", "name", "KIT-1\nmore"), std::runtime_error);
    try {
        build("cfg", "name", "a>b");
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("barcode_kits"), std::string::npos);
    }
}

TEST(ConnectionString, RelativePathsBecomeTheCanonicalPathsTheLoadRequestsUse) {
    const fs::path folder = fs::canonical(fs::temp_directory_path()) / fs::unique_path("vemla-paths-%%%%%%%%");
    fs::create_directories(folder / "refs");
    std::ofstream(folder / "refs" / "genome.mmi") << "index";
    std::ofstream(folder / "targets.bed") << "chr1\t1\t2\n";

    ConnectionInfo info;
    info.config = "cfg";
    std::string text;
    {
        CurrentDirectory inside(folder / "refs");
        info.align_ref = "genome.mmi";
        info.bed_file = "../targets.bed";
        info.params.insert("align_ref", std::string("genome.mmi"));
        info.params.insert("bed_file", std::string("../targets.bed"));
        text = info.build_connection_string();
    }
    const std::string index = (folder / "refs" / "genome.mmi").string();
    const std::string bed = (folder / "targets.bed").string();
    EXPECT_EQ(info.align_ref, index);
    EXPECT_EQ(info.bed_file, bed);
    EXPECT_EQ(text, "cfg:>timeout_interval=0>client_name=>align_ref=" + index + ">bed_file=" + bed);

    ConnectionInfo missing;
    missing.align_ref = "no-such-file-" + folder.filename().string();
    EXPECT_THROW(missing.build_connection_string(), std::runtime_error);
    fs::remove_all(folder);
}

TEST(ConnectionStringPairs, GetKvps) {
    using Pairs = std::map<std::string, std::string>;
    EXPECT_EQ(cs::get_kvps(">a=1>a=2"), std::make_pair(true, Pairs{{"a", "2"}}));
    EXPECT_FALSE(cs::get_kvps(">=1").first);
    EXPECT_FALSE(cs::get_kvps("a=1").first);
    EXPECT_FALSE(cs::get_kvps(">a").first);
    EXPECT_FALSE(cs::get_kvps(">a=1>>b=2").first);
    EXPECT_EQ(cs::get_kvps(">a="), std::make_pair(true, Pairs{{"a", ""}}));
    EXPECT_EQ(cs::get_kvps(">a=b=c"), std::make_pair(true, Pairs{{"a", "b=c"}}));
    EXPECT_EQ(cs::get_kvps(""), std::make_pair(true, Pairs{}));
    EXPECT_EQ(cs::get_kvps(">a=1>b=2>"), std::make_pair(true, Pairs{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(cs::create_kvp("k", 42u), ">k=42");
    EXPECT_EQ(cs::create_kvp("k", std::string("v")), ">k=v");
}

TEST(ConnectionStringPairs, ParseValue) {
    unsigned int value = 0;
    EXPECT_TRUE(cs::parse_value(std::string("12abc"), value));
    EXPECT_EQ(value, 12u);
    EXPECT_TRUE(cs::parse_value(std::string("  7"), value));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(cs::parse_value(std::string("abc"), value));
}

TEST(ConnectionStringParse, DefaultsAndFailures) {
    std::string error;
    {
        const auto [ok, info] = ConnectionInfo::parse("cfg", error);
        ASSERT_TRUE(ok);
        EXPECT_EQ(info.config, "cfg");
        EXPECT_EQ(info.align_type, "auto");
        EXPECT_TRUE(info.params.empty());
        EXPECT_EQ(info.priority, 2u);
    }
    {
        const auto [ok, info] = ConnectionInfo::parse("cfg:", error);
        ASSERT_TRUE(ok);
        EXPECT_EQ(info.config, "cfg");
    }
    {
        const auto [ok, info] = ConnectionInfo::parse("cfg:>timeout_interval=x", error);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, "Failed to parse barcoding options in connection string: >timeout_interval=x");
    }
    {
        // Only the first line is read; unregistered keys are ignored; an
        // unreadable number reads as 0.
        const auto [ok, info] = ConnectionInfo::parse(
                "cfg:>client_name=n>foo=1>num_extra_bases_trim=z>detect_adapter=1\n>post_out=1", error);
        ASSERT_TRUE(ok);
        EXPECT_EQ(info.client_name, "n");
        EXPECT_FALSE(info.params.exists("foo"));
        EXPECT_FALSE(info.params.exists("post_out"));
        EXPECT_EQ(info.params.get_value<int32_t>("num_extra_bases_trim"), 0);
        EXPECT_TRUE(info.params.get_value<bool>("detect_adapter"));
        EXPECT_EQ(info.align_type, "auto");
    }
}

TEST(ConnectPriority, LowestThreeAreMirrored) {
    EXPECT_EQ(ipc_tools::connect_priority_code(0), 2u);
    EXPECT_EQ(ipc_tools::connect_priority_code(1), 1u);
    EXPECT_EQ(ipc_tools::connect_priority_code(2), 0u);
    EXPECT_EQ(ipc_tools::connect_priority_code(3), 3u);
    EXPECT_EQ(ipc_tools::connect_priority_code(17), 17u);
}
