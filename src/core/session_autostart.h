#pragma once

#include <string>

// The XDG autostart entry that starts the program with the desktop session:
// $XDG_CONFIG_HOME/autostart/vistrel.desktop, or ~/.config/autostart/.
class SessionAutostart {
public:
    // The entry's path; "" when neither XDG_CONFIG_HOME nor HOME is known.
    static std::string EntryPath();
    // True when the entry exists and is not hidden (Hidden=true turns it off).
    static bool Enabled();
    // Writes the entry that starts programFile; on failure error says why.
    static bool Enable(const std::string& programFile, std::string& error);
    // Removes the entry; an absent entry is no failure.
    static bool Disable(std::string& error);
    // The program as one Exec argument, quoted and escaped as desktop entries ask.
    static std::string ExecValue(const std::string& programFile);
};
