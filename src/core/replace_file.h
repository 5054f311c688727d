#pragma once

#include <sys/types.h>

#include <string>

// Replaces the file at path with text as a whole: written to a temporary file
// beside it, flushed to the disk and renamed over it, so a crash or a power
// cut leaves the old file or the new one, never half of one. False with errno
// set when it could not; the temporary file is then removed.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode);
