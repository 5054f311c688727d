#pragma once

#include <cstdint>
#include <string>

#include "recording/avi_recovery.h"

// MP4 recordings cut off by a crash: the index at the front describes every
// picture up to its last rewrite, so the file plays as it is; it only needs
// its final name with that picture count.

// Whether the file starts with an MP4 "ftyp" box.
bool IsMp4File(const ByteSource& source);
// Pictures the first video track's index ("stsz") counts; -1 when there is no index.
int32_t Mp4PictureCount(const ByteSource& source);
// Names a left-over MP4 "YYMMDD_HHMMSS_NNNN.mp4", or deletes it when it holds
// fewer than two pictures; kNotOurs when it is no MP4.
RecoveryOutcome RecoverMp4File(const std::string& path);
// path with ".tmp" replaced by "_NNNN.mp4".
std::string Mp4FinalName(const std::string& temporaryPath, int32_t pictures);
