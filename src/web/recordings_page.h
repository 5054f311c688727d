#pragma once

// "recordings.htm": what the program recorded, newest first and grouped by
// day, from "recordings.json": each recording with its thumbnail, start
// time, length, size, what started it and the strip of its motion, which
// starts the playback at the second clicked; MP4 files play in the
// browser's own player, AVI files as "replay.mjpg". Photos follow as a grid.
// Its texts come through page_texts.
class RecordingsPage {
public:
    static const char kBody[];
};
