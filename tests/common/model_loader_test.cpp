#include "common/model_loader.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

// Columns in an unusual order with an extra one, as model files vary.
std::string model_text(int rows, bool with_sd_stdv = true) {
    std::ostringstream text;
    text << "#model\nkmer\tsd_mean\tlevel_stdv\tlevel_mean" << (with_sd_stdv ? "\tsd_stdv" : "") << "\n";
    for (int i = 0; i < rows; ++i) {
        text << "k" << i << "\t" << 0.5 + i * 0.25 << "\t" << 1.0 + i * 0.125 << "\t" << 60.0 + i;
        if (with_sd_stdv) {
            text << "\t" << (i == 7 ? "" : std::to_string(0.5 + i * 0.5));
        }
        text << "\n";
    }
    return text.str();
}

class ModelLoaderTest : public ::testing::Test {
protected:
    std::string write(const std::string& text) { return m_folder.write_file("model.tsv", text); }

    vemla_test::TempFolder m_folder;
    std::vector<float> level_mean, level_stdv, sd_mean, sd_stdv;
};

TEST_F(ModelLoaderTest, A256RowModelIsAFourMerModelWithItsValues) {
    ASSERT_EQ(common::load_model(write(model_text(256)), level_mean, level_stdv, sd_mean, sd_stdv), 4);
    ASSERT_EQ(level_mean.size(), 256u);
    ASSERT_EQ(sd_stdv.size(), 256u);
    for (int i : {0, 1, 100, 255}) {
        const auto at = static_cast<std::size_t>(i);
        EXPECT_FLOAT_EQ(level_mean[at], 60.0f + i);
        EXPECT_FLOAT_EQ(level_stdv[at], 1.0f + i * 0.125f);
        const float mean = 0.5f + i * 0.25f;
        const float stdv = 0.5f + i * 0.5f;
        EXPECT_FLOAT_EQ(sd_mean[at], mean);
        EXPECT_FLOAT_EQ(sd_stdv[at], mean * mean * mean / (stdv * stdv));
    }
    EXPECT_TRUE(std::isinf(sd_stdv[7]));  // an empty cell reads as 0
}

TEST_F(ModelLoaderTest, MissingColumnsAndOtherRowCountsAreRefused) {
    EXPECT_EQ(common::load_model(write(model_text(64)), level_mean, level_stdv, sd_mean, sd_stdv), 3);
    const auto kept = level_mean;
    try {
        common::load_model(write(model_text(256, false)), level_mean, level_stdv, sd_mean, sd_stdv);
        FAIL() << "a model without sd_stdv was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("\"sd_stdv\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(level_mean, kept);  // refused before anything was loaded
    try {
        common::load_model(write(model_text(100)), level_mean, level_stdv, sd_mean, sd_stdv);
        FAIL() << "100 rows were accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid model length.");
    }
    // The row count is judged after loading: the outputs keep the loaded columns.
    ASSERT_EQ(level_mean.size(), 100u);
    EXPECT_FLOAT_EQ(level_mean[99], 159.0f);
}

}  // namespace
