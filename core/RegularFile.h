// The one way the program opens a file that must be a regular file.
#pragma once

#include <cstdio>
#include <string>

// Opens `name` as std::fopen does for `mode` ("rb", "wb", "ab", "a+b"; "r", "w", "a" and
// "a+" alike), but only when it is a regular file: a folder, a device, a socket or a pipe
// is refused (nullptr), since reading one need never end. The open itself never waits for
// the writer or reader of a pipe; the stream returned blocks as usual. Write modes create
// a missing file; "w" empties the file only once it is known to be a regular one.
std::FILE* OpenRegularFile(const std::string& name, const char* mode);
