// Small routines of the main window that need no toolkit.
#pragma once

#include <cstdint>
#include <string>

// Media time (µs) as display text "hh:mm:ss.zzz"; hours of 100 or more keep all their digits.
// Times below 0 (before the start, or the libraries' no-value marker) show as "00:00:00.000".
std::string FormatMediaTime(int64_t t);

// The folder of the executable, with a trailing "/".
std::string GetAppPath();

// A typed time in milliseconds: "hh:mm:ss.zzz" as FormatMediaTime writes it, the shorter
// "m:ss.zzz" or "ss.zzz", or a whole number of milliseconds; spaces around it are ignored.
// False for anything else: an empty field, minutes or seconds of 60 or more below a higher field,
// more than three decimals, more than nine digits in a field.
bool ParseMediaTime(const std::string& text, int64_t& ms);
