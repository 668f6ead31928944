#pragma once
// Text helpers. Names are UTF-8 inside the engine; Joliet identifiers are UTF-16
// big-endian on disc. Bytes that are not valid UTF-8 are taken as Latin-1
// characters, so every name a Linux file system can hold has a spelling.

#include <cstdint>
#include <string>
#include <string_view>

namespace fornax {

// Next character of a UTF-8 text starting at pos; pos advances past it.
char32_t DecodeUtf8(std::string_view text, size_t& pos);
void AppendUtf8(std::string& out, char32_t c);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Characters a Joliet identifier spends on the name (UTF-16 code units).
size_t Utf16Length(std::string_view text);

// Upper case as the file system compares names (every letter that has one).
std::string UpperCase(std::string_view text);
// Upper case of a to z only, the rest unchanged.
std::string UpperAscii(std::string_view text);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// A text for a log line, control characters written as \xNN: a file name may
// hold any of them, and raw they would break the line or drive the terminal.
std::string PrintableText(std::string_view text);

}  // namespace fornax
