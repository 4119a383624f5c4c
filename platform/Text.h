// Cutting text: one Trim and one Split for everything that reads typed or
// stored text, so that every reader agrees on what counts as white space.
#pragma once

#include <string>
#include <vector>

// What Trim cuts from the ends.
enum class ETrim {
    WHITE_SPACE,  // all that isspace takes: blanks, tabs, line ends, form feeds
    BLANKS,       // blanks and tabs only
};

// The text without the leading and trailing characters of the kind given.
std::string Trim(const std::string& str, ETrim cut = ETrim::WHITE_SPACE);

// Pairs of hex digits, either case, as bytes; false for anything else, an
// odd count of digits or no digits at all.
bool ParseHexBytes(const std::string& str, std::vector<unsigned char>& bytes);

// The pieces between the separators, empty ones included: n separators
// make n + 1 pieces, and empty text is one empty piece.
std::vector<std::string> Split(const std::string& str, char chSeparator);
