#pragma once
// The hardware database: turns the 16-bit magic number a controller or a
// synthesiser reports into its model number, description and capabilities.
// The database is the SQLite image compiled into the program, read in place
// through the "readonly-mem-vfs" file layer (discovery/MemoryVfs.h).
//
// Threads: called on the thread that runs the identity query; takes no locks
// of its own. Lookups use a process-wide image description; run them on one
// thread at a time. Nothing is logged or printed.

#include "discovery/QELSystem.h"

#include <cstdint>

namespace Qel {

// Runs "SELECT Type, * FROM hwlist WHERE Magic = <magic>" and stores every
// matching row into the system: a "Controller" row replaces the controller
// record, a "Synthesiser" row the synthesiser record (each with an unread
// version and empty tables, and valid); other rows change nothing; a later
// row of one kind wins. Returns whether the query ran: true also when no row
// matched (records unchanged); false when the layer cannot be registered,
// the database cannot be opened, the statement fails or a row is malformed.
bool LookupMagic(QELSystem& system, std::uint16_t magic);

// The row callback of LookupMagic, in SQLite's exec-callback form: context is
// the QELSystem, values are texts (null for NULL), names the column names.
// Returns -1 (abort the query) when the row has fewer than two columns or its
// first column is not named "Type"; 0 otherwise.
int LookupMagicRow(void* context, int columns, char** values, char** names);

// Value conversions of one column text.
// Flag: true exactly for "TRUE", "True" and "true".
bool ConvertFlag(const char* text);
// Integer: base-10 strtol into a signed 32-bit value (leading white space and
// a sign allowed, stops at the first non-digit: "12.5" gives 12). Fails, and
// leaves value unchanged, when no digit was converted or the value is out of
// range.
bool ConvertInteger(const char* text, int& value);
// Decimal: strtod. Fails, and leaves value unchanged, under the same two
// conditions.
bool ConvertDecimal(const char* text, double& value);

}  // namespace Qel
