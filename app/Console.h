// Console helpers of the utility: the final key wait and the exit prompt.
#pragma once

#include <iosfwd>

// Waits until a key press is pending on standard input without consuming it.
// Returns at once when standard input is not a terminal or is at end of file,
// so scripted and piped runs never hang at the exit prompt.
void WaitForKey();

// Writes "Press any key to exit ... ", optionally followed by an end of line,
// flushes, and waits for a key.
void PromptAndWaitForKey(std::ostream& out, bool end_line);
