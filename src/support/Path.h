// Path operations on wide paths as pages send them: "\" and "/" are both separators on input,
// "/" is produced, "." and ".." are resolved lexically and a drive letter is plain text.
// Joins are not cut at any length; a path the file system refuses fails where it is opened.
#pragma once

#include <cstdint>
#include <string>

// `dir` and `name` joined by one separator, "." and ".." resolved. A `name` that starts
// with a separator is taken whole; an empty `dir` gives `name` alone.
std::wstring pathJoin(const std::wstring& dir, const std::wstring& name);
// `relative` placed under `root`: its separators of either kind, "." and ".." are resolved
// within `relative` alone, so the result never leaves `root` (a leading separator, a drive
// letter or a ".." that would climb above it are dropped or kept as plain names), control
// characters in its names become "_" and each name is fitted to 255 bytes (fitFileName). An
// empty or all-dots `relative` gives `root`.
std::wstring pathJoinConfined(const std::wstring& root, const std::wstring& relative);
// A name from a server or a page reduced to one plain file name: the text after its last
// separator, control and bidirectional-control characters turned into "_", fitted to 255 bytes;
// "" when nothing usable remains ("", ".", "..").
std::wstring plainFileName(const std::wstring& name);
// `name` cut to at most `maxBytes` bytes of UTF-8 (whole characters), keeping its extension,
// as browsers shorten names the file system would refuse.
std::wstring fitFileName(const std::wstring& name, size_t maxBytes = 255);
// "stem (n).ext", the way browsers number copies of `name` (a name that starts with its only
// dot, ".profile", has no extension), its stem shortened so that the whole stays within 255
// bytes of UTF-8.
std::wstring numberedFileName(const std::wstring& name, uint64_t n);
// The text after the last separator (the whole text when there is none).
std::wstring pathFileName(const std::wstring& path);
// The extension of the last component from its last ".", dot included; "" when none.
std::wstring pathExtension(const std::wstring& path);
// Every "\" turned into "/": the form handed to the file system.
std::wstring nativePath(const std::wstring& path);
// The UTF-8 bytes of nativePath(path), for the C library.
std::string fileSystemPath(const std::wstring& path);
// True when a file or directory exists at the path.
bool pathExists(const std::wstring& path);
// Creates every missing directory of `dir`; true when it exists afterwards.
bool createDirectories(const std::wstring& dir);
// Size in bytes of the regular file at `path` (64-bit); 0 when it is missing or not a file.
int64_t fileSize(const std::wstring& path);
