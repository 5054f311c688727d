#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A real baseline JPEG of a w x h test pattern; the comment pads it to the
// wanted parity of its length (odd when oddLength).
std::vector<uint8_t> MakeJpeg(int width, int height, int seed, bool oddLength = false);

// A fresh empty folder under the build folder, removed at the end; ends with "/".
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    // Names of the files in it, sorted; the recordings' side-file folder ".thumbs" left out.
    std::vector<std::string> Files() const;

private:
    std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t U32At(const std::vector<uint8_t>& bytes, std::size_t offset);
std::string CodeAt(const std::vector<uint8_t>& bytes, std::size_t offset);

// Standard output and error of a shell command.
std::string RunCommand(const std::string& command);

struct ProbeResult {
    std::string codec;
    int width = 0;
    int height = 0;
    int frames = -1;
    std::string frameRate;     // r_frame_rate
    std::string avgFrameRate;  // avg_frame_rate, from the header's scale and rate
    std::string decodeMessages;  // what ffmpeg says while decoding to the end
};
// ffprobe's view of the first video stream (frames counted by decoding),
// and ffmpeg's messages decoding it to the end.
ProbeResult Probe(const std::string& path);
