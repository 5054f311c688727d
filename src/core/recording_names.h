#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// The names the program gives its files.

// A finished recording: YYMMDD_HHMMSS_ then at least four digits of picture
// count, then ".avi" or ".mp4"; when gives its local start time.
bool IsRecordingName(const char* name, std::time_t* when = nullptr);
// A photo: five digits, then ".jpg" or ".bmp".
bool IsPhotoName(const char* name);

// What made a recording, as its thumbnail's JPEG comment "activation=<name>" keeps it.
enum class Activation : int32_t { kUnknown = 0, kAlways = 1, kWindow = 2, kDetector = 3 };
// "always", "window", "detector"; "" for kUnknown or anything else.
const char* ActivationName(Activation activation);
// The activation a thumbnail's first bytes name in a comment right after the
// start of image; kUnknown when they name none.
Activation ActivationInThumbnail(const uint8_t* head, std::size_t bytes);
