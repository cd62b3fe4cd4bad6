#include "upgrade/McsBlockReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "McsImage.h"

namespace {

using Qel::McsBlockReader;
using Bytes = std::vector<std::uint8_t>;

// Reads blocks of the given sizes; stops at the first stream error.
struct Outcome {
    std::vector<Bytes> blocks;
    bool stream_error = false;
    std::size_t error_line = 0;
};

Outcome ReadBlocks(std::istream& in, const std::vector<std::size_t>& sizes) {
    McsBlockReader reader(in);
    Outcome outcome;
    for (std::size_t size : sizes) {
        Bytes block;
        if (reader.Fill(block, size) != McsBlockReader::Result::Ok) {
            outcome.stream_error = true;
            outcome.error_line = reader.LineNumber();
            break;
        }
        EXPECT_EQ(block.size(), size);
        outcome.blocks.push_back(block);
    }
    return outcome;
}

Bytes Seq(std::uint8_t first, std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

struct TextCase {
    const char* name;
    std::string text;
    std::vector<std::size_t> sizes;
    std::vector<Bytes> blocks;  // expected when no error
    bool stream_error = false;
    std::size_t error_line = 0;
};

TEST(McsBlockReader, TextCases) {
    const std::string rec16 = ":10000000000102030405060708090A0B0C0D0E0F78";  // bytes 00..0F
    const Bytes flash16 = QelTest::FlashOrder(Seq(0, 16));
    Bytes block32 = flash16;
    block32.resize(32, 0);

    const TextCase cases[] = {
        {"word order: text AABBCCDD goes out DD CC BB AA",
         ":04000000AABBCCDDEE\n", {16},
         {{0xDD, 0xCC, 0xBB, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"only non-data records: every block is zeros",
         ":020000040000FA\n:00000001FF\n", {16, 32}, {Bytes(16, 0), Bytes(32, 0)}},
        {"count-0 data record, extended address and colon-less lines are skipped",
         "garbage\n:0000000000\n:020000040001F9\n\n" + rec16 + "\n", {16}, {flash16}},
        {"data ending part-way through a block is padded with zeros", rec16 + "\n", {32}, {block32}},
        {"CR line ends and lower-case hex", ":04000000aabbccddee\r\n", {16},
         {{0xDD, 0xCC, 0xBB, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"last line without a line end", rec16, {16}, {flash16}},
        {"count not a multiple of 4", ":03000000010203F7\n", {16}, {}, true, 1},
        {"too short for the type field", rec16 + "\n:1000000\n", {16, 16}, {flash16}, true, 2},
        {"colon alone", ":\n", {16}, {}, true, 1},
        {"data shorter than its count", ":08000000AABBCCDD\n", {16}, {}, true, 1},
        {"non-hexadecimal data", ":04000000AABBCXDDEE\n", {16}, {}, true, 1},
        {"non-hexadecimal count", ":G4000000AABBCCDDEE\n", {16}, {}, true, 1},
        {"non-hexadecimal type", ":040000Z0AABBCCDDEE\n", {16}, {}, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.text);
        const Outcome outcome = ReadBlocks(in, c.sizes);
        EXPECT_EQ(outcome.stream_error, c.stream_error);
        EXPECT_EQ(outcome.blocks, c.blocks);
        if (c.stream_error) {
            EXPECT_EQ(outcome.error_line, c.error_line);
        }
    }
}

// Whatever the record sizes and block sizes, the blocks carry the image
// exactly, in file order, followed only by zeros.
TEST(McsBlockReader, CarriesRecordsAcrossBlocksWithoutLosingBytes) {
    const Bytes image = QelTest::RandomImage(5000, 7);
    const Bytes expected = QelTest::FlashOrder(image);
    const std::vector<std::vector<std::size_t>> layouts = {{16}, {32}, {4}, {252}, QelTest::MixedRecordSizes()};
    std::mt19937 random(11);
    for (const auto& layout : layouts) {
        QelTest::McsOptions options;
        options.record_sizes = layout;
        std::istringstream in(QelTest::WriteMcs(image, options));
        McsBlockReader reader(in);
        Bytes all;
        std::size_t records_before = 0;
        while (all.size() < expected.size() + 128) {
            const std::size_t size = 16 * (1 + random() % 4);
            Bytes block;
            ASSERT_EQ(reader.Fill(block, size), McsBlockReader::Result::Ok);
            ASSERT_EQ(block.size(), size);
            all.insert(all.end(), block.begin(), block.end());
            // With 16-byte records a block of m bytes takes exactly m/16 records
            // (one extended-address record precedes the data).
            if (layout == std::vector<std::size_t>{16} && all.size() <= expected.size()) {
                EXPECT_EQ(reader.LineNumber() - 1, records_before + size / 16);
                records_before += size / 16;
            }
        }
        EXPECT_TRUE(reader.Exhausted());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), all.begin())) << "layout size " << layout.size();
        EXPECT_TRUE(std::all_of(all.begin() + static_cast<std::ptrdiff_t>(expected.size()), all.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(McsBlockReader, FailedStreamIsAStreamError) {
    std::ifstream missing("/nonexistent/qel/image.mcs");
    McsBlockReader reader(missing);
    EXPECT_TRUE(reader.StreamFailed());
    Bytes block;
    EXPECT_EQ(reader.Fill(block, 64), McsBlockReader::Result::StreamError);
}

TEST(McsBlockReader, StreamWithExceptionsEnabledReachesItsEndNormally) {
    std::istringstream in(":04000000AABBCCDDEE\n");
    in.exceptions(std::ios::failbit | std::ios::badbit);
    McsBlockReader reader(in);
    Bytes block;
    ASSERT_EQ(reader.Fill(block, 16), McsBlockReader::Result::Ok);
    EXPECT_EQ(block[0], 0xDD);
    ASSERT_EQ(reader.Fill(block, 16), McsBlockReader::Result::Ok);
    EXPECT_EQ(block, Bytes(16, 0));
}

}  // namespace
