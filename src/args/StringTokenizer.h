#pragma once

// Splits a text into tokens separated by a delimiter string.
//
// The delimiter is matched as a whole string (the two-character delimiter "<>" matches only
// "<>", never a lone '<' or '>'), not as a set of separator characters. Runs of the delimiter
// are collapsed once, on construction, and a single leading and trailing delimiter are dropped,
// so the tokens taken with the construction delimiter are never empty. Tokens are then removed
// from the front of the remaining text.

#include <string>

namespace lumetra {

class StringTokenizer {
  public:
    // An empty text or an empty delimiter gives a tokenizer without tokens: both members stay
    // empty, whatever the other argument held.
    StringTokenizer(const std::string& str, const std::string& delim);

    bool hasMoreTokens() const { return !_str.empty(); }

    // Tokens left at the construction delimiter, without consuming any: 0 for an empty text,
    // otherwise the non-overlapping occurrences of the delimiter plus one.
    int countTokens() const;

    std::string remainingString() const { return _str; }

    // Removes and returns the text before the first delimiter (all of the text if there is
    // none); an empty string once the text is used up.
    std::string nextToken();

    // The same, split at `delim` instead; the construction delimiter is kept and the remaining
    // text is not re-normalised for `delim`, so empty tokens can come out. An empty `delim`
    // matches nothing: the token is the whole remaining text.
    std::string nextToken(const std::string& delim);

    // nextToken() with every occurrence of `filter` deleted from the token. Each deletion is
    // followed by a new search from the same position. An empty filter deletes nothing.
    std::string filterNextToken(const std::string& filter);

    // nextToken() read as a number the way the C library's atof and atoi read it: leading
    // white space, the longest numeric prefix, 0 when there is none (see token_to_double and
    // token_to_int).
    double nextFloatToken();
    int nextIntToken();

  private:
    std::string _str;    // text not yet handed out as tokens
    std::string _delim;  // construction delimiter
};

// `text` read as atof reads it (strtod on the whole string): 0 when it has no numeric prefix.
double token_to_double(const std::string& text);

// `text` read as atoi reads it (decimal, optional sign, leading white space, 0 when it has no
// numeric prefix). A value outside the range of int, for which atoi is undefined, is clamped to
// INT_MIN or INT_MAX.
int token_to_int(const std::string& text);

}  // namespace lumetra
