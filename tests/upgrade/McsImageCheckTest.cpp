#include "upgrade/McsImageCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "McsImage.h"

namespace {

struct CheckCase {
    const char* name;
    std::string text;
    bool ok;
    std::size_t line;  // of the fault
};

TEST(CheckMcsImage, GoodAndBadFiles) {
    const std::string ela = ":020000040000FA";
    const std::string data = ":10000000000102030405060708090A0B0C0D0E0F78";
    const std::string eof = ":00000001FF";
    const std::string good = ela + "\n" + data + "\n" + eof + "\n";

    const CheckCase cases[] = {
        {"well-formed image", good, true, 0},
        {"CRLF line ends, blank lines, lower case", ela + "\r\n\r\n" + ":10000000000102030405060708090a0b0c0d0e0f78\r\n" + eof + "\r\n", true, 0},
        {"last line without a line end", ela + "\n" + data, true, 0},
        {"bad checksum, reported with its line", ela + "\n" + data + "\n" + ":10001000000102030405060708090A0B0C0D0E0F79\n", false, 3},
        {"bad hex digit", ela + "\n:10000000000102030405060708090A0B0C0D0EXX78\n", false, 2},
        {"short line", good + ":0000\n", false, 4},
        {"odd number of digits", ":10000000000102030405060708090A0B0C0D0E0F780\n", false, 1},
        {"count does not match the line", ":11000000000102030405060708090A0B0C0D0E0F77\n", false, 1},
        {"unknown record type", ":00000006FA\n", false, 1},
        {"data count not a multiple of 4", ":03000000010203F7\n" + data + "\n", false, 1},
        {"line without colon", "hello\n" + good, false, 1},
        {"no data records", ela + "\n" + eof + "\n", false, 0},
        {"only empty data records", ":0000000000\n" + eof + "\n", false, 0},
        {"empty file", "", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.text);
        const auto result = Qel::CheckMcsImage(in);
        EXPECT_EQ(result.ok, c.ok) << result.message;
        EXPECT_EQ(result.line, c.line);
        EXPECT_EQ(result.message.empty(), c.ok);
    }
}

TEST(CheckMcsImage, AcceptsEveryLayoutTheWriterProduces) {
    const auto image = QelTest::RandomImage(200000, 3);
    for (bool lower : {false, true}) {
        for (bool crlf : {false, true}) {
            QelTest::McsOptions options;
            options.record_sizes = QelTest::MixedRecordSizes();
            options.lower_case = lower;
            options.crlf = crlf;
            std::istringstream in(QelTest::WriteMcs(image, options));
            const auto result = Qel::CheckMcsImage(in);
            EXPECT_TRUE(result.ok) << result.message << " at line " << result.line;
        }
    }
}

TEST(CheckMcsImage, UnreadableStream) {
    std::ifstream missing("/nonexistent/qel/image.mcs");
    const auto result = Qel::CheckMcsImage(missing);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.message.empty());
}

}  // namespace
