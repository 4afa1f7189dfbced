#include "interfaces/read_holder.h"
#include "python_oracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

using bass::data_wrappers::DataView;
using interfaces::ReadHolder;

namespace {

float mean_qscore(const std::string& qualities) {
    ReadHolder read;
    read.m_datasets.emplace(qstring, DataView(std::string(qualities)));
    read.recalculate_mean_qscore();
    return read.m_metadata.get_value<float>("mean_qscore");
}

uint32_t bits_of(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

}  // namespace

TEST(MeanQscore, FixedCases) {
    EXPECT_NEAR(mean_qscore(std::string(50, static_cast<char>(43))), 10.0f, 1e-4f);
    EXPECT_EQ(mean_qscore(std::string(50, static_cast<char>(33))), 1.0f);
    EXPECT_EQ(mean_qscore(""), 1.0f);
    EXPECT_EQ(mean_qscore(std::string(5, static_cast<char>(127))), 90.0f);

    ReadHolder no_qualities;
    no_qualities.recalculate_mean_qscore();
    EXPECT_FALSE(no_qualities.m_metadata.exists("mean_qscore"));

    ReadHolder not_text;
    not_text.m_datasets.emplace(qstring, DataView(std::vector<uint8_t>{40}));
    EXPECT_THROW(not_text.recalculate_mean_qscore(), std::runtime_error);
}

TEST(MeanQscore, ShiftAndScaleCountOnlyAsFloats) {
    const std::string qualities(20, static_cast<char>(53));  // phred 20
    ReadHolder read;
    read.m_datasets.emplace(qstring, DataView(std::string(qualities)));
    read.m_metadata.insert("qscore_shift", 5.0);         // double: ignored
    read.m_metadata.insert("qscore_scale", int32_t(2));  // integer: ignored
    read.m_metadata.insert("mean_qscore", std::string("stale"));
    read.recalculate_mean_qscore();
    EXPECT_NEAR(read.m_metadata.get_value<float>("mean_qscore"), 20.0f, 1e-4f);

    read.m_metadata.insert("qscore_shift", 2.0f);
    read.m_metadata.insert("qscore_scale", 0.5f);
    read.recalculate_mean_qscore();
    // q = (20 - 2) / 0.5 = 36 per base; mean score = 2 + 0.5 * 36.
    EXPECT_NEAR(read.m_metadata.get_value<float>("mean_qscore"), 20.0f, 1e-4f);
}

TEST(MeanQscore, MatchesANumpyFloat32Reference) {
    std::mt19937 rng(99);
    std::vector<std::string> strings;
    for (int i = 0; i < 200; ++i) {
        std::string q;
        const int length = static_cast<int>(rng() % 300);
        const int low = 33 + static_cast<int>(rng() % 20);
        for (int j = 0; j < length; ++j) q += static_cast<char>(low + static_cast<int>(rng() % 40));
        strings.push_back(q);
    }
    std::ostringstream script;
    script << "import numpy as np\n"
              "def score(q):\n"
              "    if not q:\n"
              "        return np.float32(1)\n"
              "    total = np.float32(0)\n"
              "    for c in q:\n"
              "        exponent = (np.float32(c - 33) - np.float32(0)) / np.float32(1) / np.float32(-10)\n"
              "        total = np.float32(total + np.power(np.float32(10), exponent))\n"
              "    mean = np.float32(total / np.float32(len(q)))\n"
              "    s = np.float32(np.float32(0) + np.float32(1) * (np.float32(-10) * np.log10(mean)))\n"
              "    if not s > 1: return np.float32(1)\n"
              "    if s >= 90: return np.float32(90)\n"
              "    return s\n"
              "for h in [\n";
    for (const auto& q : strings) script << "'" << test_support::to_hex(q) << "',\n";
    script << "]:\n    print(int(np.float32(score(bytes.fromhex(h))).view(np.uint32)))\n";
    std::istringstream output(test_support::run_python(script.str()));
    for (const auto& q : strings) {
        uint32_t expected_bits = 0;
        ASSERT_TRUE(output >> expected_bits);
        const float ours = mean_qscore(q);
        // Library powf/log10f may differ from NumPy's by an ulp or two.
        const auto distance = static_cast<int64_t>(bits_of(ours)) - static_cast<int64_t>(expected_bits);
        EXPECT_LE(std::llabs(distance), 4) << "length " << q.size() << ": " << ours;
    }
}
