// The utility's command line: option set-up, parsing and the help text.
// Parsing never throws to the caller; a rejected command line comes back as
// a message in `error`.
#pragma once

#include <string>

struct CommandLine {
    std::string image_file;   // -m/--mcs or the first positional argument
    bool verify = false;      // -v/--verify
    bool query = false;       // -q/--query
    bool show_help = false;   // -h/--help, or no argument at all
    std::string error;        // the parser's message when it rejected the line
    std::string help_text;    // the help text, always filled

    bool Rejected() const { return !error.empty(); }
};

CommandLine ParseCommandLine(int argc, const char* const argv[]);
