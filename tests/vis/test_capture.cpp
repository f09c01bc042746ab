// JPEG round trip of captured frames: size, orientation (GL rows bottom-up give an
// image whose top row is the window's top row), quality 0 and 100, an unwritable
// folder, and the frame file names.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vis/capture.h"

namespace {

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
    bool ok = false;
};

Decoded DecodeJpeg(const std::string& path) {
    Decoded out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return out;
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    out.ok = true;
    return out;
}

std::string TempDir() {
    char pattern[] = "/tmp/vellicor_capture_XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "/tmp";
}

// A GL-style buffer (BGRA, bottom row first) whose bottom half is blue and whose
// top half is red, with a green left quarter.
std::vector<uint8_t> TestPattern(int width, int height) {
    std::vector<uint8_t> p(static_cast<size_t>(width) * height * 4);
    for (int row = 0; row < height; ++row) {
        const bool top = row >= height / 2;  // GL row 0 is the bottom of the window
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &p[(static_cast<size_t>(row) * width + x) * 4];
            uint8_t b = top ? 0 : 255, g = 0, r = top ? 255 : 0;
            if (x < width / 4) b = 0, g = 255, r = 0;
            px[0] = b;
            px[1] = g;
            px[2] = r;
            px[3] = 255;
        }
    }
    return p;
}

TEST(Capture, JpegRoundTripSizeOrientationAndQuality) {
    const std::string dir = TempDir();
    const int width = 64, height = 48;
    const std::vector<uint8_t> pixels = TestPattern(width, height);
    for (int quality : {0, 100}) {
        const std::string path = dir + "/q" + std::to_string(quality) + ".jpg";
        int error = -1;
        ASSERT_TRUE(WriteJpegFile(path.c_str(), pixels.data(), width, height, quality, &error)) << quality;
        EXPECT_EQ(error, 0);
        const Decoded image = DecodeJpeg(path);
        ASSERT_TRUE(image.ok);
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        // Image row 2 (near the top) right side: red; row height-3: blue; left: green.
        const auto at = [&](int x, int y, int c) { return image.rgb[(static_cast<size_t>(y) * width + x) * 3 + c]; };
        const int tolerance = quality == 0 ? 110 : 30;
        EXPECT_NEAR(at(48, 2, 0), 255, tolerance);
        EXPECT_NEAR(at(48, 2, 2), 0, tolerance);
        EXPECT_NEAR(at(48, height - 3, 0), 0, tolerance);
        EXPECT_NEAR(at(48, height - 3, 2), 255, tolerance);
        EXPECT_NEAR(at(4, 2, 1), 255, tolerance);
        std::remove(path.c_str());
    }
    // Quality is passed through: on a detailed image the lowest quality gives a
    // much smaller file than the highest.
    std::vector<uint8_t> noise(pixels.size());
    uint32_t seed = 12345;
    for (uint8_t& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(seed >> 24);
    }
    const std::string low = dir + "/low.jpg", high = dir + "/high.jpg";
    ASSERT_TRUE(WriteJpegFile(low.c_str(), noise.data(), width, height, 0, nullptr));
    ASSERT_TRUE(WriteJpegFile(high.c_str(), noise.data(), width, height, 100, nullptr));
    struct stat a{}, b{};
    ASSERT_EQ(stat(low.c_str(), &a) + stat(high.c_str(), &b), 0);
    EXPECT_LT(a.st_size * 2, b.st_size);
    std::remove(low.c_str());
    std::remove(high.c_str());
    rmdir(dir.c_str());
}

TEST(Capture, UnwritableFolderReportsTheSystemError) {
    const std::vector<uint8_t> pixels = TestPattern(8, 8);
    int error = 0;
    EXPECT_FALSE(WriteJpegFile("/nonexistent-vellicor-folder/frame0.jpg", pixels.data(), 8, 8, 100, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(WriteJpegFile("/tmp/empty.jpg", pixels.data(), 0, 8, 100, &error));
}

// Frames of an earlier run (or another process) in the folder are skipped, not
// overwritten; each number claimed is taken.
TEST(Capture, FrameNumbersSkipFilesThatExist) {
    EXPECT_EQ(CaptureFileName("/tmp/frames/", 12), "/tmp/frames/frame12.jpg");
    const std::string dir = "/tmp/vellicor-frames-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    for (uint32_t n : {0u, 1u, 3u}) std::fclose(std::fopen(CaptureFileName(dir.c_str(), n).c_str(), "w"));
    EXPECT_EQ(ClaimFrameNumber(dir.c_str(), 0), 2u);
    EXPECT_EQ(ClaimFrameNumber(dir.c_str(), 2), 4u);
    EXPECT_EQ(ClaimFrameNumber("/nonexistent-vellicor-folder", 7), 7u);
    for (uint32_t n = 0; n < 5; ++n) std::remove(CaptureFileName(dir.c_str(), n).c_str());
    rmdir(dir.c_str());
}

}  // namespace
