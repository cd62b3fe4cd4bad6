#include "CommandLine.h"

#include <cxxopts.hpp>

CommandLine ParseCommandLine(int argc, const char* const argv[])
{
    CommandLine result;

    cxxopts::Options options("qel_fw_upgrade", " - Qel Firmware Upgrade Utility");
    options.positional_help("<Filename of Firmware Upgrade .MCS>").show_positional_help();
    options.add_options()
        ("m,mcs", "MCS File to download", cxxopts::value<std::string>())
        ("h,help", "Print help")
        // cxxopts' own word wrap keeps the blank at the break on the first line;
        // breaking the description ourselves at the same place keeps the layout
        // (width 76, wrapped lines indented to the description column) without
        // the trailing blank.
        ("v,verify", "Verify Integrity Only of existing Firmware in Qel\nnon-volatile memory")
        ("q,query", "Query current Qel firmware details then exit");
    options.parse_positional({"mcs"});
    result.help_text = options.help();

    try {
        const auto parsed = options.parse(argc, argv);
        if (parsed.count("mcs") != 0) result.image_file = parsed["mcs"].as<std::string>();
        result.verify = parsed.count("verify") != 0;
        result.query = parsed.count("query") != 0;
        result.show_help = parsed.count("help") != 0 || argc <= 1;
    } catch (const cxxopts::exceptions::exception& e) {
        result.error = e.what();
    }
    return result;
}
