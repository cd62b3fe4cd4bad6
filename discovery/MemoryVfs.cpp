#include "discovery/MemoryVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace Qel {

namespace {

std::atomic<const unsigned char*> g_image_data{nullptr};
std::atomic<std::int64_t> g_image_size{0};

// The layer's file object. SQLite allocates szOsFile bytes for it and hands
// them to Open; base must come first.
struct MemoryFile {
    sqlite3_file base;
    char* name;                 // private copy, released by Close
    int flags;
    sqlite3_int64 size;         // the image size for the main database, else 0
    const unsigned char* data;  // the image for the main database, else null
};

MemoryFile* AsMemoryFile(sqlite3_file* file) { return reinterpret_cast<MemoryFile*>(file); }

bool ReadsImage(const MemoryFile* file, const unsigned char* image) {
    return file->data != nullptr && file->data == image;
}

int FileClose(sqlite3_file* file) {
    MemoryFile* memory_file = AsMemoryFile(file);
    std::free(memory_file->name);
    memory_file->name = nullptr;
    return SQLITE_OK;
}

int FileRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    if (amount <= 0) {
        return SQLITE_OK;
    }
    const MemoryFile* memory_file = AsMemoryFile(file);
    const unsigned char* image = g_image_data.load();
    const std::int64_t size = g_image_size.load();
    auto* out = static_cast<unsigned char*>(buffer);

    std::int64_t available = 0;
    if (ReadsImage(memory_file, image) && offset >= 0 && offset < size) {
        available = std::min<std::int64_t>(amount, size - offset);
        std::memcpy(out, image + offset, static_cast<std::size_t>(available));
    }
    if (available < amount) {
        // SQLite relies on the unread part being zero after a short read.
        std::memset(out + available, 0, static_cast<std::size_t>(amount - available));
        return SQLITE_IOERR_SHORT_READ;
    }
    return SQLITE_OK;
}

int FileWrite(sqlite3_file*, const void*, int, sqlite3_int64) { return SQLITE_READONLY; }

int FileTruncate(sqlite3_file*, sqlite3_int64) { return SQLITE_READONLY; }

int FileSync(sqlite3_file*, int) { return SQLITE_OK; }

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    *size = ReadsImage(AsMemoryFile(file), g_image_data.load()) ? g_image_size.load() : 0;
    return SQLITE_OK;
}

int FileLock(sqlite3_file*, int) { return SQLITE_OK; }

int FileUnlock(sqlite3_file*, int) { return SQLITE_OK; }

int FileCheckReservedLock(sqlite3_file*, int* reserved) {
    *reserved = 0;
    return SQLITE_OK;
}

// SQLITE_NOTFOUND is SQLite's "not handled here": an SQLITE_OK would claim
// every request, and SQLite would then take pragmas as answered by the layer
// and return nothing for them.
int FileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }

int FileSectorSize(sqlite3_file*) { return 0; }

int FileDeviceCharacteristics(sqlite3_file*) { return 0; }

const sqlite3_io_methods kFileMethods = {
    1,  // iVersion: no shared memory, no memory mapping
    FileClose,
    FileRead,
    FileWrite,
    FileTruncate,
    FileSync,
    FileSize,
    FileLock,
    FileUnlock,
    FileCheckReservedLock,
    FileControl,
    FileSectorSize,
    FileDeviceCharacteristics,
    nullptr, nullptr, nullptr, nullptr,  // xShmMap .. xShmUnmap
    nullptr, nullptr,                    // xFetch, xUnfetch
};

int VfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out_flags) {
    auto* memory_file = AsMemoryFile(file);
    std::memset(memory_file, 0, sizeof(*memory_file));
    // Refuse before anything is filled in: SQLite treats a file whose method
    // table is set as open and would later close it.
    if ((flags & SQLITE_OPEN_READONLY) == 0) {
        return SQLITE_ERROR;
    }
    const char* source = name != nullptr ? name : "";
    const std::size_t length = std::strlen(source);
    memory_file->name = static_cast<char*>(std::malloc(length + 1));
    if (memory_file->name == nullptr) {
        return SQLITE_NOMEM;
    }
    std::memcpy(memory_file->name, source, length + 1);
    memory_file->flags = flags;
    if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
        memory_file->data = g_image_data.load();
        memory_file->size = g_image_size.load();
    }
    memory_file->base.pMethods = &kFileMethods;
    if (out_flags != nullptr) {
        *out_flags = flags;
    }
    return SQLITE_OK;
}

int VfsDelete(sqlite3_vfs*, const char*, int) { return SQLITE_OK; }

int VfsAccess(sqlite3_vfs*, const char*, int, int* result) {
    *result = 0;
    return SQLITE_OK;
}

int VfsFullPathname(sqlite3_vfs*, const char* name, int out_size, char* out) {
    if (out_size <= 0) {
        return SQLITE_OK;
    }
    const std::size_t capacity = static_cast<std::size_t>(out_size) - 1;
    const std::size_t length = std::min(std::strlen(name), capacity);
    std::memcpy(out, name, length);
    out[length] = '\0';
    return SQLITE_OK;
}

void* VfsDlOpen(sqlite3_vfs*, const char*) { return nullptr; }

void VfsDlError(sqlite3_vfs*, int size, char* message) {
    if (size > 0) {
        message[0] = '\0';
    }
}

void (*VfsDlSym(sqlite3_vfs*, void*, const char*))(void) { return nullptr; }

void VfsDlClose(sqlite3_vfs*, void*) {}

// The layer has no randomness of its own; the buffer is cleared so that
// nobody reads indeterminate bytes.
int VfsRandomness(sqlite3_vfs*, int size, char* out) {
    if (size > 0) {
        std::memset(out, 0, static_cast<std::size_t>(size));
    }
    return SQLITE_OK;
}

int VfsSleep(sqlite3_vfs*, int) { return 0; }

// Julian day number of now; queries on the hardware database never ask.
int VfsCurrentTime(sqlite3_vfs*, double* now) {
    *now = 2440587.5 + static_cast<double>(std::time(nullptr)) / 86400.0;
    return SQLITE_OK;
}

sqlite3_vfs g_memory_vfs = {
    1,                   // iVersion
    sizeof(MemoryFile),  // szOsFile
    0,                   // mxPathname, copied from the default layer
    nullptr,             // pNext
    kMemoryVfsName,      // zName
    nullptr,             // pAppData
    VfsOpen,
    VfsDelete,
    VfsAccess,
    VfsFullPathname,
    VfsDlOpen,
    VfsDlError,
    VfsDlSym,
    VfsDlClose,
    VfsRandomness,
    VfsSleep,
    VfsCurrentTime,
    nullptr,             // xGetLastError
    nullptr, nullptr, nullptr, nullptr,  // version 2 and 3 methods
};

}  // namespace

void SetMemoryVfsImage(const unsigned char* data, std::int64_t size) {
    g_image_data.store(data);
    g_image_size.store(size);
}

int RegisterMemoryVfs() {
    static std::mutex mutex;
    static bool registered = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (registered) {
        return SQLITE_OK;
    }
    const int initialised = sqlite3_initialize();
    if (initialised != SQLITE_OK) {
        return initialised;
    }
    const sqlite3_vfs* platform = sqlite3_vfs_find(nullptr);
    g_memory_vfs.mxPathname = platform != nullptr ? platform->mxPathname : 512;
    g_memory_vfs.szOsFile = sizeof(MemoryFile);
    const int result = sqlite3_vfs_register(&g_memory_vfs, 0);
    registered = result == SQLITE_OK;
    return result;
}

}  // namespace Qel
