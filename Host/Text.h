// Small text helpers shared by the simulated host and the tools built on it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace OmbrelHost {

// "0x00080601": eight upper-case hex digits, as flags and versions are shown in messages.
std::string hex32(std::uint32_t value);

// A four-character code as its characters, first byte the most significant: "8BIM" for
// 0x3842494D. A code with an unprintable character is shown by hex32.
std::string fourCCText(std::uint32_t code);

// Upper-case ASCII letters lowered; every other byte (digits, punctuation, UTF-8) kept as it
// is. Independent of the C locale, for comparing file extensions and option values.
std::string asciiLower(std::string_view text);

// Why a path of this type cannot be read as a file: "no such file", "is a folder", "is a FIFO",
// "is a device", "is a socket", else "is not a regular file".
std::string notARegularFile(std::filesystem::file_type type);

// The system's text for an errno value, its first letter lowered to follow a colon: "no such
// file or directory", "permission denied".
std::string systemCause(int error);

// "an ELF module", "a PE module": the noun with the article its first letter calls for.
std::string withArticle(std::string_view noun);

} // namespace OmbrelHost
