#include "sim/screen_image.h"

#include <gtest/gtest.h>

namespace norvane::sim {
namespace {

TEST(ScreenCanvas, PixelsSitInBandsOfEightRows) {
  ScreenCanvas canvas;
  canvas.Set(0, 0);
  canvas.Set(0, 7);
  canvas.Set(5, 8);
  canvas.Set(127, 63);
  canvas.Set(128, 0);  // off the screen: ignored
  canvas.Set(-1, 70);
  const ScreenImage& image = canvas.image();
  EXPECT_EQ(image[0], 0x81);
  EXPECT_EQ(image[128 + 5], 0x01);
  EXPECT_EQ(image[1023], 0x80);
  EXPECT_EQ(std::count_if(image.begin(), image.end(), [](uint8_t b) { return b != 0; }), 3);
  EXPECT_TRUE(canvas.Get(5, 8));
  EXPECT_FALSE(canvas.Get(5, 9));
}

}  // namespace
}  // namespace norvane::sim
