#include "vemla/kit_definitions.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using vemla::server_query::BarcodeKitDefinition;
using vemla::server_query::LampKitDefinition;

namespace {

std::string out_of_range_text(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::out_of_range& error) {
        return error.what();
    }
    return "no exception";
}

TEST(BarcodeKitDefinition, SingleKitNamesItsBarcodesAndRefusesOthers) {
    const BarcodeKitDefinition kit("KIT", 1, 12, 0, 0, false, true, true, "barcode%02i");
    EXPECT_EQ(kit.kit_name(), "KIT");
    EXPECT_TRUE(kit.is_both_ends());
    EXPECT_FALSE(kit.is_dual());
    EXPECT_EQ(kit.generate_barcode_name(3, 99), "barcode03");
    EXPECT_EQ(kit.generate_barcode_name(12, 0), "barcode12a");
    EXPECT_EQ(out_of_range_text([&] { kit.generate_barcode_name(13, 0); }),
              "get_outer_barcode index 13 out of range [1 .. 12]");

    const BarcodeKitDefinition copy = kit;  // copies share the definition
    EXPECT_EQ(copy.generate_barcode_name(1, 0), "barcode01");
}

TEST(BarcodeKitDefinition, DualKitNamesPairs) {
    const BarcodeKitDefinition kit("DUAL", 1, 8, 1, 24, true, false, false, "BC%02i");
    EXPECT_EQ(kit.first_inner_index(), 1);
    EXPECT_EQ(kit.last_inner_index(), 24);
    EXPECT_EQ(kit.generate_barcode_name(3, 17), "barcode_external03_internal17");
    EXPECT_EQ(out_of_range_text([&] { kit.generate_barcode_name(3, 25); }),
              "get_inner_barcode index 25 out of range [1 .. 24]");
}

TEST(BarcodeKitDefinition, KitWithoutNumberedBarcodesGivesItsFormat) {
    for (const auto& bounds : {std::make_pair(-1, 12), std::make_pair(5, 4)}) {
        const BarcodeKitDefinition kit("NONE", bounds.first, bounds.second, 0, 0, true, false, false, "unclassified");
        EXPECT_EQ(kit.generate_barcode_name(1000, -7), "unclassified");
    }
}

TEST(LampKitDefinition, NamesBarcodesAndKeepsTargets) {
    const LampKitDefinition kit("LAMP", 1, 8, "FIP%02i", {"a", "b"});
    EXPECT_EQ(kit.targets(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(kit.generate_barcode_name(12 - 4), "FIP08");
    EXPECT_EQ(out_of_range_text([&] { kit.generate_barcode_name(0); }), "get_barcode index 0 out of range [1 .. 8]");
    EXPECT_EQ(LampKitDefinition("L", -1, 8, "all", {}).generate_barcode_name(99), "all");
}

}  // namespace
