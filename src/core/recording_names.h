#pragma once

#include <ctime>

// The names the program gives its files.

// A finished recording: YYMMDD_HHMMSS_ then at least four digits of picture
// count, then ".avi" or ".mp4"; when gives its local start time.
bool IsRecordingName(const char* name, std::time_t* when = nullptr);
// A photo: five digits, then ".jpg" or ".bmp".
bool IsPhotoName(const char* name);
