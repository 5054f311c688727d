#pragma once

#include <atomic>

class Registry;

// The one way to ask for the settings to reach their file. The settings file
// fulfils it and registers itself as "_SaveRequest"; callers find it through
// the Registry they hold, so none needs to know what is behind it.
class SaveRequest {
public:
    virtual ~SaveRequest() = default;

    // Any thread: a save is wanted; returns at once, never touches the disk.
    void Ask() { asked_.store(1, std::memory_order_release); }
    // The user-interface thread: one write for every request since the last.
    bool SaveIfAsked() { return asked_.exchange(0, std::memory_order_acq_rel) == 0 || SaveNow(); }
    // The user-interface thread: writes at once (an accepted dialog, a menu change).
    bool SaveNow() {
        asked_.store(0, std::memory_order_release);
        return WriteSettings();
    }
    bool Asked() const { return asked_.load(std::memory_order_acquire) != 0; }

    // The request registered in registry, or null when there is none.
    static SaveRequest* Of(Registry& registry);
    // Ask or SaveNow on registry's request; nothing when there is none.
    static void AskFor(Registry& registry);
    static bool SaveNowFor(Registry& registry);

protected:
    virtual bool WriteSettings() = 0;

private:
    std::atomic<int> asked_{0};
};
