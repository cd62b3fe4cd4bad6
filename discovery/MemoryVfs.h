#pragma once
// The in-memory file layer through which SQLite reads the hardware database
// image compiled into the program, in place and never copied to disk. It is
// an SQLite VFS (interface version 1) registered, not as the default, under
// the name "readonly-mem-vfs". It only reads:
//  - opening a file without the read-only flag fails (SQLITE_ERROR);
//  - the main database file reads from the process-wide image set with
//    SetMemoryVfsImage; every other file is empty;
//  - write and truncate answer SQLITE_READONLY (8);
//  - a read that reaches past the end of the image (or of an empty file)
//    copies the bytes that exist, zero-fills the rest of the buffer and
//    answers SQLITE_IOERR_SHORT_READ (522), as SQLite requires;
//  - "no such file" for every existence test, so no journal is ever found;
//  - locks, sync, delete and every file-control request succeed without
//    effect, except that file-control answers SQLITE_NOTFOUND so that SQLite
//    handles pragmas itself.
//
// Threads: the image description is process-wide (atomic fields); a file
// reads the image that is set when it reads, so set the image before opening
// and keep it unchanged while files are open. Registration is done once per
// process and guarded by a mutex.

#include <cstdint>

namespace Qel {

inline constexpr const char* kMemoryVfsName = "readonly-mem-vfs";

// Sets the image that the main database file of the layer reads. The bytes
// must stay alive and unchanged while a file of the layer is open.
void SetMemoryVfsImage(const unsigned char* data, std::int64_t size);

// Registers the layer unless that has been done; returns SQLITE_OK (0) or
// the SQLite error code of the failed initialisation or registration.
int RegisterMemoryVfs();

}  // namespace Qel
