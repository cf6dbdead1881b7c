// Marks as people type them, for the window's mark fields and clipwell-cut's --start/--end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// How a mark may be written. Always accepted: a whole number of milliseconds ("2500") and
// "[[hh:]mm:]ss[.zzz]" with at least one ":" ("00:00:02.500", "1:02.5"); spaces around it are
// ignored. Fields below a higher one stay under 60; at most three decimals.
struct TMarkNotation {
    bool SecondsWithoutColon = false; // "2.5" as seconds (else a number with a dot is refused)
    size_t MaxDigits = 12; // digits per field
};

// False for anything else, and for marks whose microseconds would not fit 64 bits.
bool ParseMarkText(const std::string& text, const TMarkNotation& notation, int64_t& ms);
