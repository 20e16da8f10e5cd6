// The small loops around POSIX file descriptors that every reader and writer needs.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads until size bytes or the end of the file, retrying interrupted reads; got counts what
// arrived. false with errno set on a read error.
bool ReadFully(int fd, void* buffer, std::size_t size, std::size_t& got);

// One read that is retried when a signal interrupts it: bytes read, 0 at the end, -1 on error.
long ReadSome(int fd, void* buffer, std::size_t size);

// Writes every byte, retrying interrupted and partial writes. false with errno set on failure
// (EIO for a write that makes no progress).
bool WriteAll(int fd, const void* data, std::size_t size);

// True when the path (not followed if a link) still names the file open as fd.
bool PathNamesOpenFile(const std::string& path, int fd);

// Closes fd without changing errno, so that the reason of an earlier failure survives.
void CloseKeepingErrno(int fd);

}  // namespace platform
