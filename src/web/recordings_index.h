#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "core/recording_files.h"

// The program's own recordings (in "MoveFilesPath") and photos (in
// "ShotFilesPath"), as the web server lists and serves them. Each folder is
// read once, when first asked for; after that the worker's notices keep the
// list current, and a file found gone when asked for is dropped. Only
// regular files with the names the program gives are listed, never links.
// A recording's side files (".thumbs/<name>.jpg" and ".levels") are looked at
// once, when it is first listed, so start-up opens none of them.
// Any thread; each call holds the index's lock only briefly.
class RecordingsIndex : public RecordingFiles {
public:
    enum class Kind { kRecording, kPhoto };
    struct Entry {
        char name[28];
        std::time_t start;  // a recording's from its name, a photo's when written
        std::time_t end;    // when last written
        int64_t bytes;
        int32_t frames;     // a recording's picture count from its name; 0 for a photo
        // A recording's side files, looked at when it is first listed (never at start-up):
        int32_t levels;      // seconds in its levels file, 0 when it has none
        int8_t activation;   // an Activation, from its thumbnail's comment
        bool thumb;          // it has a thumbnail
        bool sideRead;       // the side files were looked at
    };

    // Reads the folders (each ending with a separator) unless they are the ones read already.
    void Open(const std::string& moveFolder, const std::string& shotFolder);

    void FileAdded(const char* path) override;
    void FileRemoved(const char* path) override;
    void RecordingOpened(const char* path) override;

    // Opens the listed file (suffix empty) or its side file ".thumbs/<name><suffix>",
    // read-only and never through a link; -1 when the name is not listed or
    // the file cannot be opened. A listed file found gone is dropped.
    int OpenFile(Kind kind, const char* name, const char* suffix, Entry* entry);
    // Appends the JSON list of the entries that started within [from, to],
    // newest first, at most limit of each kind.
    void FormatJson(std::string& out, std::time_t from, std::time_t to, int limit);
    std::size_t Count(Kind kind);

private:
    std::vector<Entry>& List(Kind kind) { return kind == Kind::kRecording ? recordings_ : photos_; }
    const std::string& Folder(Kind kind) const { return kind == Kind::kRecording ? moveFolder_ : shotFolder_; }
    // The kind path's folder holds; false for a path in neither folder.
    bool KindOf(const char* path, Kind* kind, const char** name) const;
    void Scan(Kind kind);
    bool Describe(Kind kind, int dirFd, const char* name, Entry* entry) const;
    void Insert(Kind kind, const Entry& entry);
    void Remove(Kind kind, const char* name);
    Entry* Find(Kind kind, const char* name);

    std::mutex mutex_;
    std::string moveFolder_;
    std::string shotFolder_;
    bool opened_ = false;
    // Oldest first by (start, name).
    std::vector<Entry> recordings_;
    std::vector<Entry> photos_;
    std::string recordingNow_;
};
