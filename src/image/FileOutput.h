#pragma once

// Output files that appear whole or not at all: each is written under a temporary name in its
// own folder and renamed into place once every byte is written and the file is closed.  A
// reader never sees a partial file, a failed write (a full disk, an unwritable folder) leaves
// nothing behind, and an existing file of that name stays as it was until the new one is
// complete.  A symbolic link at the name is replaced by the file, never followed: its target,
// a file elsewhere or none (a dangling link), is neither written nor created.  Only a device,
// a pipe or a socket, named directly or through links (/dev/full, a link to /dev/null), and
// whatever the standard descriptors' names lead to (/dev/stdout, /dev/fd/N, /proc/self/fd/N,
// even a redirected plain file) is written through in place instead.  A new file, and one that
// replaces a link, gets the permissions fopen would give it (0666 less the umask); a replaced
// plain file keeps its own.  The temporary is named as image/Temporaries.h says, so that one a
// killed run left can be recognised.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace lumetra {

// Calls write(file) on a temporary file beside `path`; write returns false when a write
// failed (with errno set).  Throws Error "cannot write "<path>": <reason>" when the file
// cannot be made, written, closed or renamed; the temporary file is then removed.
void writeFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write);

// Writes 8-bit RGB pixels, row by row without padding, as a PNG file, atomically.  Throws
// Error as writeFileAtomically does, and when the picture is empty.
void writeRgbPng(const std::string& path, const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                 std::uint32_t height);

}  // namespace lumetra
