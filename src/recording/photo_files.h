#pragma once

#include <cstdint>

// Photo files of the output worker. Both create the file for writing,
// replacing an existing one unless replace is false (then an existing file
// fails with errno EEXIST), and return true when every byte was written.

// A 24-bit BMP of bottom-up blue-green-red rows of width * 3 bytes, as they
// lie in memory. Rows are padded to four bytes in the file, as readers
// expect; for widths whose rows are already aligned the file is
// byteCount + 54 bytes long.
bool WriteBmpFile(const char* path, const uint8_t* pixels, int32_t byteCount, int32_t width, int32_t height,
                  bool replace = true);

// The JPEG bytes as they are.
bool WriteJpegFile(const char* path, const uint8_t* bytes, int32_t byteCount, bool replace = true);
