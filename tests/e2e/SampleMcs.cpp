// qel_sample_mcs: writes a sample firmware image as an MCS file, for the
// demonstration run and for trying the utility against a simulated system.
//
//   qel_sample_mcs FILE [BYTES [SEED]]
//
// The image is BYTES (a multiple of 4, default 262144) of deterministic
// pseudo-random data in 16-byte data records, with an extended linear
// address record at every 64 KiB, as firmware build tools write them.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "McsImage.h"

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 4) {
        std::cerr << "usage: qel_sample_mcs FILE [BYTES [SEED]]\n";
        return 2;
    }
    try {
        const std::size_t bytes = argc > 2 ? std::stoul(argv[2]) : 262144;
        const auto seed = static_cast<std::uint32_t>(argc > 3 ? std::stoul(argv[3]) : 2024);
        if (bytes == 0 || bytes % 4 != 0) {
            std::cerr << "qel_sample_mcs: BYTES must be a positive multiple of 4\n";
            return 2;
        }
        const std::string text = QelTest::WriteMcs(QelTest::RandomImage(bytes, seed));
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::cerr << "qel_sample_mcs: cannot write " << argv[1] << '\n';
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "qel_sample_mcs: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
