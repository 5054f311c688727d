#include "recording/rec_test_support.h"

#include <dirent.h>
#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<uint8_t> Compress(int width, int height, int seed, int commentBytes) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 4 + seed * 17);
            p[1] = static_cast<uint8_t>(y * 4 + seed * 5);
            p[2] = static_cast<uint8_t>((x ^ y) + seed);
        }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 50, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (commentBytes > 0) {
        std::vector<JOCTET> comment(static_cast<size_t>(commentBytes), 'c');
        jpeg_write_marker(&cinfo, JPEG_COM, comment.data(), static_cast<unsigned>(comment.size()));
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(cinfo.next_scanline) * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&cinfo);
    free(out);
    return bytes;
}

}  // namespace

std::vector<uint8_t> MakeJpeg(int width, int height, int seed, bool oddLength) {
    std::vector<uint8_t> bytes = Compress(width, height, seed, 0);
    if ((bytes.size() % 2 == 1) != oddLength) bytes = Compress(width, height, seed, 1);  // 5 more bytes
    return bytes;
}

TempFolder::TempFolder() {
    std::string pattern = std::string(VISTREL_BUILD_DIR) + "/rec_test_XXXXXX";
    char* made = mkdtemp(pattern.data());
    path_ = made ? std::string(made) + "/" : std::string();
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        if (entry.path().filename() != ".thumbs") names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t U32At(const std::vector<uint8_t>& bytes, std::size_t offset) {
    if (offset + 4 > bytes.size()) return 0xDEADBEEF;
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

std::string CodeAt(const std::vector<uint8_t>& bytes, std::size_t offset) {
    if (offset + 4 > bytes.size()) return "";
    return std::string(reinterpret_cast<const char*>(&bytes[offset]), 4);
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "popen failed";
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

ProbeResult Probe(const std::string& path) {
    ProbeResult result;
    const std::string out = RunCommand(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=codec_name,width,height,nb_read_frames,r_frame_rate,avg_frame_rate -of default=noprint_wrappers=1 '" +
        path + "'");
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "codec_name") result.codec = value;
        if (key == "width") result.width = std::atoi(value.c_str());
        if (key == "height") result.height = std::atoi(value.c_str());
        if (key == "nb_read_frames") result.frames = std::atoi(value.c_str());
        if (key == "r_frame_rate") result.frameRate = value;
        if (key == "avg_frame_rate") result.avgFrameRate = value;
    }
    result.decodeMessages = RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null -");
    return result;
}
