#pragma once

#include <cstdint>

#include "core/picture_board.h"

struct ShotData;

// Whether anything wants the next picture encoded: recording (when the
// picture is due by the interval), a photo, a web client waiting for a
// picture newer than the one published, or a stream viewer. The window asks
// before its hand-over copy; the clients are counted on the picture board.
// Lives in the picture block; no allocation, no lock.
class PictureDemand {
public:
    explicit PictureDemand(PictureBoard& board) : board_(board) {}

    static int64_t NowMs() { return PictureBoard::NowMs(); }

    // A client waits for the next picture (any thread); see PictureBoard.
    void NoteWebRequest() { board_.NoteWebRequest(); }
    // Window: a picture was handed over, which serves every client that asked before.
    void NoteHandedOver() { webServed_ = board_.WebRequests(); }
    // Window, every frame: notes the frame's capture time (seconds).
    void NoteFrame(double captureTime, int64_t nowMs) { board_.NoteFrame(captureTime, nowMs); }

    // Window, only while the worker is free (the block's pending is 0): true
    // when the picture taken at captureTime is wanted. recording is the
    // recording state the worker would be handed; a change of it is always
    // handed over, so the worker sees recording stop and start. keepsBeforeMotion:
    // the worker keeps due pictures for the seconds before motion while not recording;
    // beforeMotionOnly, when given, tells whether they are all that want it.
    bool Wanted(const ShotData& shot, double captureTime, int32_t recording, int32_t speedRecMs,
                bool keepsBeforeMotion = false, bool* beforeMotionOnly = nullptr) const;

private:
    PictureBoard& board_;
    uint64_t webServed_ = 0;  // window thread only
};
