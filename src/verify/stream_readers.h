// Small reading steps for the library's text formats, used as stream extractions:
//   in >> ExpectText("-----BEGIN ") >> ReadPemBody(text) >> ExpectEnd();
// Each step consumes what it accepts and marks the stream failed on a mismatch; on a stream
// that has already failed a step consumes nothing and delivers an empty result.
#pragma once

#include <cstddef>
#include <istream>
#include <limits>
#include <streambuf>
#include <string>
#include <string_view>

namespace VerificationToolCrypto {

using CharTest = bool (*)(char);

inline constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// The Base64 alphabet without padding: A-Z, a-z, 0-9, '+', '/'.
bool IsBase64Char(char c);

// Consumes exactly the literal (case-sensitive, no white space skipped).
struct ExpectText {
  std::string_view literal;
};

// Reads a run of characters passing test into out (which is emptied first), at most maximum
// of them; a run shorter than minimum or longer than maximum fails the stream, keeping the
// first maximum characters in out. The character that ends the run is left unread.
struct ReadWhile {
  CharTest test;
  std::string& out;
  std::size_t minimum = 0;
  std::size_t maximum = kNoLimit;
};

// Appends the Base64 lines of a PEM block to out, line feeds and padding included, stopping
// at the padding, at the first line that does not start with a Base64 character (left
// unread) or after maxLines lines. Lines are at most 79 characters; at least one line without
// padding is required.
struct ReadPemBody {
  std::string& out;
  std::size_t maxLines = kNoLimit;
};

// Reads up to and including the first occurrence of marker; out receives the bytes before it.
// Input that ends before the marker fails the stream and leaves out unchanged.
struct ReadUntil {
  std::string& out;
  std::string_view marker;
};

// Requires the end of the input.
struct ExpectEnd {};

// An input stream over text it does not copy; the text must outlive the stream.
class TextViewStream : public std::istream {
 public:
  explicit TextViewStream(std::string_view text);

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(std::string_view text);
  };
  Buffer buffer_;
};

std::istream& operator>>(std::istream& in, const ExpectText& step);
std::istream& operator>>(std::istream& in, const ReadWhile& step);
std::istream& operator>>(std::istream& in, const ReadPemBody& step);
std::istream& operator>>(std::istream& in, const ReadUntil& step);
std::istream& operator>>(std::istream& in, const ExpectEnd& step);

}  // namespace VerificationToolCrypto
