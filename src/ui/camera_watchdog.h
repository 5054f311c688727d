#pragma once

// Counts the window's ticks for the camera: a camera silent for a whole spell
// is let go, and the selected device is looked for again a spell after the
// last attempt. Frames and connection attempts wind the counts back up.
class CameraWatchdog {
public:
    static constexpr int kCountdownTicks = 12;

    // What one tick asks of the window, in this order.
    struct Due {
        bool disconnect = false;
        bool connect = false;
    };

    // A picture arrived: the camera is alive and needs no new attempt.
    void FrameArrived() {
        deviceCheck_ = kCountdownTicks;
        reconnect_ = kCountdownTicks;
    }
    // A connection is being tried now.
    void ConnectTried() { deviceCheck_ = kCountdownTicks; }
    // The source has a whole spell to offer its first picture.
    void ConnectPending() { reconnect_ = kCountdownTicks; }

    Due Tick() {
        Due due;
        if (deviceCheck_ > 0) --deviceCheck_;
        if (reconnect_ > 0) --reconnect_;
        if (reconnect_ <= 0) {
            reconnect_ = kCountdownTicks;
            due.disconnect = true;
        }
        due.connect = deviceCheck_ <= 0;
        return due;
    }

    int DeviceCheckCountdown() const { return deviceCheck_; }
    int ReconnectCountdown() const { return reconnect_; }

private:
    int deviceCheck_ = 0;
    int reconnect_ = kCountdownTicks;
};
