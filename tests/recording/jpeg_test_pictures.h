#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

// Pictures and JPEG helpers shared by the encoder, worker tests and benchmarks.
namespace jpegtest {

// A camera-like bottom-up blue-green-red picture: smooth gradients, sensor
// noise and a few hard edges, so the encoder works as hard as on a real frame.
inline std::vector<uint8_t> PhotoLikePicture(int width, int height, uint32_t seed = 1) {
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
    uint32_t noise = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>((noise >> 24) % 17) - 8;
            int blue = 40 + (150 * x) / width;
            int green = 60 + (120 * y) / height;
            int red = 200 - (100 * (x + y)) / (width + height);
            if ((x / 80 + y / 60) % 2 == 0 && x % 80 > 20 && y % 60 > 15) {
                blue = 230;  // bright blocks with hard edges
                green = 220;
                red = 40;
            }
            if (x > width / 2 && x < width / 2 + 6) red = green = blue = 10;  // a thin dark pole
            uint8_t* p = &picture[(static_cast<size_t>(y) * width + x) * 3];
            auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
            p[0] = clamp(blue + grain);
            p[1] = clamp(green + grain);
            p[2] = clamp(red + grain);
        }
    }
    return picture;
}

// Pure noise: the hardest picture to compress.
inline std::vector<uint8_t> NoisePicture(int width, int height, uint32_t seed = 7) {
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
    uint32_t noise = seed;
    for (uint8_t& byte : picture) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        byte = static_cast<uint8_t>(noise >> 11);
    }
    return picture;
}

// Every byte 0 or 255 at random: narrow pictures of it at quality 100 encode
// to more bytes than they hold.
inline std::vector<uint8_t> BinaryNoisePicture(int width, int height, uint32_t seed = 7) {
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
    uint32_t noise = seed;
    for (uint8_t& byte : picture) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        byte = ((noise >> 11) & 1) ? 255 : 0;
    }
    return picture;
}

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top-down red-green-blue rows
};

inline Decoded DecodeJpeg(const uint8_t* bytes, size_t n) {
    Decoded out;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(n));
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        out.width = static_cast<int>(cinfo.output_width);
        out.height = static_cast<int>(cinfo.output_height);
        out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = &out.rgb[static_cast<size_t>(cinfo.output_scanline) * out.width * 3];
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        out.ok = true;
    }
    jpeg_destroy_decompress(&cinfo);
    return out;
}

}  // namespace jpegtest
