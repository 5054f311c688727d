#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "core/section_lock.h"

// The shared ordered dictionary of text keys to text values. Keys without a
// leading "_" are settings (saved by SettingsFile); keys with "_" are run-time
// entries: module handles, the window poster, message numbers. Values hold at
// most 255 characters; an empty value counts as absent.
class Registry {
public:
    static constexpr std::size_t kMaxValue = 255;
    static constexpr std::size_t kBufferSize = kMaxValue + 1;

    explicit Registry(bool enabled);
    virtual ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Cuts the caller's writable text to 255 characters in place, then stores it.
    void SetText(const char* key, char* value);
    // Same for read-only text: only the stored copy is cut.
    void SetText(const char* key, const char* value);
    // Copies the value into out (at least 256 bytes) and returns out; when the
    // key is absent or empty writes "" and returns nullptr. An absent key is
    // created with an empty value (it then shows in iteration and in the file).
    char* GetText(const char* key, char* out);
    // Convenience form of GetText; the same inserting look-up.
    std::string GetString(const char* key);
    bool Contains(const char* key);
    bool TextEquals(const char* key, const char* text);

    void SetInt(const char* key, int32_t value);
    bool GetInt(const char* key, int32_t& out);
    int32_t IntInRange(const char* key, int32_t def, int32_t min, int32_t max);
    int32_t IntOr(const char* key, int32_t def);
    void SetTextIfAbsent(const char* key, const char* text);
    void SetTextJoined(const char* key, const char* first, const char* second);
    void SetIntJoined(const char* keyFirst, const char* keySecond, int32_t value);

    // Handles are the decimal text of the full pointer-sized integer.
    void SetHandle(const char* key, intptr_t handle);
    void SetHandle(const char* key, const void* object) {
        SetHandle(key, reinterpret_cast<intptr_t>(object));
    }
    intptr_t GetHandle(const char* key);
    intptr_t GetHandleJoined(const char* keyFirst, const char* keySecond);
    // Typed look-up of a module object stored with SetHandle.
    template <class T>
    T* Find(const char* key) {
        return reinterpret_cast<T*>(GetHandle(key));
    }

    void AddName(const char* name);
    void AddNameUnlocked(const char* name);

    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }
    // Usable with std::lock_guard.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

    // One shared cursor; no locking (used on single-threaded stores, and by
    // SettingsFile::Save under Lock()).
    void First();
    void Next();
    bool Current(char* key, char* value);
    bool CurrentKey(char* key);
    void Clear();
    std::size_t Size() const { return entries_.size(); }

protected:
    using Map = std::map<std::string, std::string>;
    const Map& Entries() const { return entries_; }

private:
    Map entries_;
    Map::iterator cursor_;
    SectionLock lock_;
};

// C library decimal text-to-integer rule (leading blanks, optional sign,
// digits up to the first non-digit), saturating instead of overflowing.
int64_t ParseDecimal(const char* text);
