#pragma once

#include <string>

#include "core/registry.h"
#include "core/save_request.h"

// The settings Registry with its file behind it: "<program>.ini" beside the
// program, one "key value" line per setting in ascending key order. When the
// program folder cannot be written (a system-wide install) the file and the
// default storage folders move to the user's XDG folders instead. Fulfils
// the save requests of every module, registered as "_SaveRequest".
class SettingsFile : public Registry, public SaveRequest {
public:
    // Works out the paths, makes the program folder current, loads the file
    // and creates the storage folders.
    SettingsFile();
    // Saves once more.
    ~SettingsFile() override;

    void Load();
    // Writes a temporary file beside the settings file and renames it over
    // the old one, so an interrupted save leaves the previous file whole.
    // Returns false when nothing was written.
    bool Save();

protected:
    bool WriteSettings() override { return Save(); }
};
