#pragma once
// The reader's error texts, in one place for the lexer, the tree reader, the
// spec text decoder and the fuzz invariants. Their words are frozen: the golden
// digests and the tests pin them byte for byte (docs/protocol.md).
#include <array>
#include <string_view>

namespace synth::json::messages {

inline constexpr const char* kEofList = "EOF while parsing a list";
inline constexpr const char* kEofObject = "EOF while parsing an object";
inline constexpr const char* kEofString = "EOF while parsing a string";
inline constexpr const char* kEofValue = "EOF while parsing a value";
inline constexpr const char* kExpectedColon = "expected `:`";
inline constexpr const char* kExpectedCommaOrBracket = "expected `,` or `]`";
inline constexpr const char* kExpectedCommaOrBrace = "expected `,` or `}`";
inline constexpr const char* kExpectedIdent = "expected ident";
inline constexpr const char* kExpectedValue = "expected value";
inline constexpr const char* kInvalidEscape = "invalid escape";
inline constexpr const char* kInvalidNumber = "invalid number";
inline constexpr const char* kNumberOutOfRange = "number out of range";
inline constexpr const char* kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr const char* kKeyMustBeString = "key must be a string";
inline constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";
inline constexpr const char* kTrailingComma = "trailing comma";
inline constexpr const char* kTrailingCharacters = "trailing characters";
inline constexpr const char* kHexEscapeEnd = "unexpected end of hex escape";
inline constexpr const char* kRecursionLimit = "recursion limit exceeded";

// Every text above: a reader error is exactly one of them, then its position.
inline constexpr std::array<std::string_view, 19> kAll = {
    kEofList,
    kEofObject,
    kEofString,
    kEofValue,
    kExpectedColon,
    kExpectedCommaOrBracket,
    kExpectedCommaOrBrace,
    kExpectedIdent,
    kExpectedValue,
    kInvalidEscape,
    kInvalidNumber,
    kNumberOutOfRange,
    kControlCharacter,
    kKeyMustBeString,
    kLoneSurrogate,
    kTrailingComma,
    kTrailingCharacters,
    kHexEscapeEnd,
    kRecursionLimit,
};

}  // namespace synth::json::messages
