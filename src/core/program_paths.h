#pragma once

#include <string>

// The running program's file: /proc/self/exe, or the override set for tests.
std::string ProgramFile();
// Lets tests and tools pretend the program lives elsewhere; "" restores the default.
void SetProgramFileForTest(const std::string& path);

// Folder of the program file, ending in "/"; "" on failure.
std::string GetProgramFolder();
// The program file's name without its folder; "" on failure.
std::string GetProgramName();
// Appends "/" to a non-empty text that ends in neither "/" nor "\".
void AddTrailingBackslash(std::string& text);

// Folder for per-user settings or data under an XDG base variable with its
// default below $HOME, followed by "vistrel/"; "" when neither is known.
std::string XdgFolder(const char* variable, const char* homeDefault);
// Creates every missing level of a folder; true when it exists afterwards.
bool MakeFolders(const std::string& folder);
