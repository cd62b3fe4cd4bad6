#pragma once
// The hardware database image (an SQLite 3 database file) compiled into the
// program. The build makes it from data/hwlist.sql with the sqlite3 program
// and generates the definition; the bytes are constant for the program's
// life.

#include <span>

namespace Qel {

std::span<const unsigned char> HardwareDatabaseImage();

}  // namespace Qel
