// How the platform writes paths: "/" on Linux; "\" on Windows, whose calls take "/" as well.
// Defined with the file operations (file_system_posix.cpp, file_system_win32.cpp).
#pragma once

#include <string>

namespace ovik::platform {

// The separator the library puts between folder names of the paths it makes and shows.
char path_separator();

// `path` with each "/" written as the platform's separator: "../ini/" is "..\ini\" on Windows.
std::string native_path(std::string path);

// Whether a character may not stand in a file name made from caller input: a separator would lead
// out of the folder; on Windows, names cannot hold ":", "*", "?", quotes, "<", ">" or "|" either.
bool breaks_file_name(char c);

}  // namespace ovik::platform
