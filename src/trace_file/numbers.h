// Number conversions of the text formats, exactly those of the C library in
// the C locale (strtod, strtol clamped to int32, printf's %d and %f),
// whatever the user's locale: the decimal point is always a full stop.
#pragma once

#include <cstddef>
#include <cstdint>

// Widest results of the writers below, for the line-size checks of their
// callers: printf's "%f" of -DBL_MAX is 317 characters, "%d" of INT32_MIN 11.
inline constexpr size_t kMaxTimeChars = 317;
inline constexpr size_t kMaxIntChars = 11;
// Bytes the token readers may look at past a token's end.
inline constexpr size_t kTokenLookahead = 8;

// Base 10, leading whitespace and a sign accepted, stops at the first
// character that cannot continue the number; out of range clamps to the
// int32 limits; no number reads as 0.
int32_t parse_int32(const char* begin, const char* end);
// Exactly what strtod gives in the C locale for the text [begin, end).
double parse_time(const char* begin, const char* end);

// The same for a whole token [begin, end) read in place from a line.
// REQUIRES: kTokenLookahead readable bytes from begin and from end.
int32_t token_int32(const char* begin, const char* end);
double token_time(const char* begin, const char* end);

// Append printf's "%d", "%-16d", "%f" and "%-16f"; return the new end.
// REQUIRES: room for kMaxIntChars, 16, kMaxTimeChars bytes respectively.
char* put_int(char* out, int32_t value);
char* put_int_left16(char* out, int32_t value);
char* put_time(char* out, double value);
char* put_time_left16(char* out, double value);
