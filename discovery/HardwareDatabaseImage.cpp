#include "discovery/HardwareDatabaseImage.h"

#include <cstddef>

namespace Qel {

namespace Detail {
// Defined in the source the build generates from data/hwlist.sql.
extern const unsigned char kHardwareDatabaseBytes[];
extern const std::size_t kHardwareDatabaseBytes_size;
}  // namespace Detail

std::span<const unsigned char> HardwareDatabaseImage()
{
    return {Detail::kHardwareDatabaseBytes, Detail::kHardwareDatabaseBytes_size};
}

}  // namespace Qel
