#include "discovery/MemoryVfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

namespace {

// A file of the layer, opened through its own xOpen and closed on scope exit.
class LayerFile {
public:
    LayerFile(sqlite3_vfs* vfs, const char* name, int flags) : storage_(static_cast<std::size_t>(vfs->szOsFile)) {
        file_ = reinterpret_cast<sqlite3_file*>(storage_.data());
        std::memset(storage_.data(), 0x5A, storage_.size());  // the layer must clear what it uses
        open_result_ = vfs->xOpen(vfs, name, file_, flags, &out_flags_);
    }
    ~LayerFile() {
        if (file_->pMethods != nullptr) {
            file_->pMethods->xClose(file_);
        }
    }
    LayerFile(const LayerFile&) = delete;
    LayerFile& operator=(const LayerFile&) = delete;

    int OpenResult() const { return open_result_; }
    int OutFlags() const { return out_flags_; }
    sqlite3_file* File() { return file_; }
    const sqlite3_io_methods& Methods() { return *file_->pMethods; }

private:
    std::vector<unsigned char> storage_;
    sqlite3_file* file_ = nullptr;
    int open_result_ = -1;
    int out_flags_ = 0;
};

class MemoryVfs : public ::testing::Test {
protected:
    void SetUp() override {
        std::iota(image_.begin(), image_.end(), static_cast<unsigned char>(1));
        Qel::SetMemoryVfsImage(image_.data(), static_cast<std::int64_t>(image_.size()));
        ASSERT_EQ(Qel::RegisterMemoryVfs(), SQLITE_OK);
        vfs_ = sqlite3_vfs_find(Qel::kMemoryVfsName);
        ASSERT_NE(vfs_, nullptr);
    }

    std::array<unsigned char, 100> image_{};
    sqlite3_vfs* vfs_ = nullptr;
};

constexpr int kReadOnlyMain = SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_DB;

TEST_F(MemoryVfs, IsRegisteredOnceAsAVersionOneLayerButNotAsTheDefault) {
    EXPECT_EQ(Qel::RegisterMemoryVfs(), SQLITE_OK);
    EXPECT_EQ(vfs_->iVersion, 1);
    EXPECT_STREQ(vfs_->zName, "readonly-mem-vfs");
    sqlite3_vfs* platform = sqlite3_vfs_find(nullptr);
    ASSERT_NE(platform, nullptr);
    EXPECT_NE(platform, vfs_);
    EXPECT_EQ(vfs_->mxPathname, platform->mxPathname);
}

TEST_F(MemoryVfs, RefusesToOpenForWriting) {
    for (int flags : {SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_DB,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MAIN_DB,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_JOURNAL}) {
        LayerFile file(vfs_, "_", flags);
        EXPECT_EQ(file.OpenResult(), SQLITE_ERROR);
        EXPECT_EQ(file.File()->pMethods, nullptr);  // SQLite must not see a half-open file
    }

    sqlite3* database = nullptr;
    EXPECT_NE(sqlite3_open_v2("_", &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, Qel::kMemoryVfsName),
              SQLITE_OK);
    sqlite3_close(database);
}

TEST_F(MemoryVfs, MainDatabaseReadsTheImageAndRefusesChanges) {
    LayerFile file(vfs_, "_", kReadOnlyMain);
    ASSERT_EQ(file.OpenResult(), SQLITE_OK);
    EXPECT_EQ(file.OutFlags(), kReadOnlyMain);

    sqlite3_int64 size = -1;
    EXPECT_EQ(file.Methods().xFileSize(file.File(), &size), SQLITE_OK);
    EXPECT_EQ(size, 100);

    std::array<unsigned char, 10> buffer{};
    EXPECT_EQ(file.Methods().xRead(file.File(), buffer.data(), 10, 90), SQLITE_OK);
    EXPECT_EQ(buffer[0], 91);
    EXPECT_EQ(buffer[9], 100);

    const unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(file.Methods().xWrite(file.File(), data, 4, 0), SQLITE_READONLY);
    EXPECT_EQ(file.Methods().xTruncate(file.File(), 0), SQLITE_READONLY);
    EXPECT_EQ(SQLITE_READONLY, 8);
    EXPECT_EQ(image_[0], 1);

    int reserved = -1;
    EXPECT_EQ(file.Methods().xCheckReservedLock(file.File(), &reserved), SQLITE_OK);
    EXPECT_EQ(reserved, 0);
    EXPECT_EQ(file.Methods().xLock(file.File(), SQLITE_LOCK_EXCLUSIVE), SQLITE_OK);
    EXPECT_EQ(file.Methods().xUnlock(file.File(), SQLITE_LOCK_NONE), SQLITE_OK);
    EXPECT_EQ(file.Methods().xSync(file.File(), SQLITE_SYNC_NORMAL), SQLITE_OK);
    EXPECT_EQ(file.Methods().xSectorSize(file.File()), 0);
    EXPECT_EQ(file.Methods().xDeviceCharacteristics(file.File()), 0);
}

TEST_F(MemoryVfs, ShortReadsCopyWhatExistsAndZeroFillTheRest) {
    struct Case {
        const char* what;
        int flags;
        sqlite3_int64 offset;
        int copied;  // bytes that come from the image, starting at offset
    };
    const Case cases[] = {
        {"straddles the end", kReadOnlyMain, 95, 5},
        {"starts at the end", kReadOnlyMain, 100, 0},
        {"far past the end", kReadOnlyMain, 1 << 20, 0},
        {"file other than the main database", SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_JOURNAL, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LayerFile file(vfs_, "_", c.flags);
        ASSERT_EQ(file.OpenResult(), SQLITE_OK);
        std::array<unsigned char, 16> buffer;
        buffer.fill(0xAA);
        EXPECT_EQ(file.Methods().xRead(file.File(), buffer.data(), 16, c.offset), SQLITE_IOERR_SHORT_READ);
        EXPECT_EQ(SQLITE_IOERR_SHORT_READ, 522);
        for (int i = 0; i < 16; ++i) {
            const unsigned char expected = i < c.copied ? image_[static_cast<std::size_t>(c.offset) + i] : 0;
            EXPECT_EQ(buffer[i], expected) << "byte " << i;
        }
    }

    LayerFile journal(vfs_, "_-journal", SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_JOURNAL);
    sqlite3_int64 size = -1;
    EXPECT_EQ(journal.Methods().xFileSize(journal.File(), &size), SQLITE_OK);
    EXPECT_EQ(size, 0);
}

TEST_F(MemoryVfs, LayerMethodsFindNoFilesAndCopyNames) {
    int exists = -1;
    EXPECT_EQ(vfs_->xAccess(vfs_, "_-journal", SQLITE_ACCESS_EXISTS, &exists), SQLITE_OK);
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(vfs_->xDelete(vfs_, "_-journal", 0), SQLITE_OK);

    std::array<char, 8> out;
    out.fill('#');
    EXPECT_EQ(vfs_->xFullPathname(vfs_, "abcdefghijk", 4, out.data()), SQLITE_OK);
    EXPECT_STREQ(out.data(), "abc");
    EXPECT_EQ(vfs_->xFullPathname(vfs_, "_", static_cast<int>(out.size()), out.data()), SQLITE_OK);
    EXPECT_STREQ(out.data(), "_");

    EXPECT_EQ(vfs_->xDlOpen(vfs_, "libm.so"), nullptr);
    EXPECT_EQ(vfs_->xDlSym(vfs_, nullptr, "sin"), nullptr);
    out.fill('#');
    vfs_->xDlError(vfs_, static_cast<int>(out.size()), out.data());
    EXPECT_STREQ(out.data(), "");
    EXPECT_EQ(vfs_->xSleep(vfs_, 1000000), 0);
    double now = 0.0;
    EXPECT_EQ(vfs_->xCurrentTime(vfs_, &now), SQLITE_OK);
    EXPECT_GT(now, 2440587.5);  // after 1970
}

}  // namespace
