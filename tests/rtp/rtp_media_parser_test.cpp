#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/rtp_media_parser.h"

namespace norvane {
namespace {

TEST(ImageSizeCode, ClassifiesPictureSizes) {
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> cases = {
            {704, 240, 3},                                  // wide field-height picture
            {352, 240, 2},                                  // small picture
            {704, 576, 4}, {1920, 1080, 4}, {1024, 240, 4}, // wide but not below 1024
            {400, 100, 3}, {400, 300, 2},   {401, 300, 4},  {0, 0, 2},
    };
    for (const auto& [width, height, code] : cases) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        EXPECT_EQ(ImageSizeCode(width, height), code);
    }
}

} // namespace
} // namespace norvane
