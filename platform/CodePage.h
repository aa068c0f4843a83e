#pragma once
// The Windows-1252 code page: conversion to and from UTF-16 and UTF-8.
//
// Bytes 0x00-0x7F and 0xA0-0xFF are the code points of the same value; 0x80-0x9F
// carry the code page's typographic characters, and its five undefined bytes
// (0x81 0x8D 0x8F 0x90 0x9D) stand for the control code points of their own
// value, both ways. Characters outside the code page become '?'.

#include <string>
#include <string_view>

namespace orvex {

std::u16string Win1252ToUtf16(std::string_view s);
std::string Utf16ToWin1252(std::u16string_view s);
std::string Win1252ToUtf8(std::string_view s);
std::string Utf8ToWin1252(std::string_view s);
// True when s is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view s);

} // namespace orvex
