#pragma once

#include <cstdint>
#include <string>

// Writes pictures as H.264 into an MP4 file. The recorder talks only to this
// interface; the GStreamer pipeline behind it lives in its own library, so the
// recorder and its tests need no GStreamer. Every call comes from the output
// worker's thread.
class H264FileEncoder {
public:
    virtual ~H264FileEncoder() = default;

    // The encoder element in use, as the window and stderr name it.
    virtual const char* Name() const = 0;
    // The longest file (media time, the seconds before motion included) that
    // the index room kept at the front of the file is sized for; the recorder
    // starts a new file before an open one is this long.
    static constexpr int32_t kMaxSeconds = 10 * 60;

    // Starts a file at path (which exists and is empty) for width x height
    // pictures that come at least intervalMs apart; false, with the cause in
    // error, when the pipeline cannot start.
    virtual bool Open(const std::string& path, int32_t width, int32_t height, int32_t intervalMs,
                      std::string& error) = 0;
    // Hands over a bottom-up blue-green-red picture taken at captureTime
    // (seconds). Never waits unless wait is true: with all queue places taken
    // the picture is dropped and false returned. wait lets earlier pictures
    // (the seconds before motion) in at the encoder's pace.
    virtual bool Push(const uint8_t* pixels, int32_t width, int32_t height, double captureTime, bool wait) = 0;
    // True, with the cause, once the pipeline has reported an error.
    virtual bool Failed(std::string& cause) = 0;
    // Bytes the file holds so far.
    virtual int64_t Bytes() const = 0;
    // Ends the stream and waits until the file is finished; false when it could
    // not be finished (the cause on stderr). The file stays where it is.
    virtual bool Close() = 0;
};
