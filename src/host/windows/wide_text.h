// Quarlix keeps text in UTF-8; Windows' wide calls take UTF-16. Every name
// crosses here, so names outside the ANSI code page work, and no byte of a
// multi-byte character is ever taken for a "\" or a "/".
#pragma once

#include <string>

std::wstring wideText(const std::string& text);
std::string utf8Text(const wchar_t* text);

// The path as the wide calls take it: as given, or, when its full form is
// too long for them, that full form in its extended ("\\?\") spelling.
std::wstring widePath(const std::string& path);

// The full form of a path (drive and folders spelled out), extended where
// it is too long for the wide calls.
std::wstring fullWidePath(const std::string& path);

// Extends a full path that is too long for the wide calls.
std::wstring extendedWhereLong(const std::wstring& full);
