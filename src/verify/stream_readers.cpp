#include "verify/stream_readers.h"

namespace VerificationToolCrypto {
namespace {

using Traits = std::istream::traits_type;

constexpr std::size_t kMaxBase64LineLength = 79;

bool IsPadding(char c) { return c == '='; }

// Padding of one or two '=' ending a PEM body, then its line feed.
void ReadPadding(std::istream& in, std::string& out) {
  std::string padding;
  in >> ReadWhile{IsPadding, padding, 1, 2};
  if (in.get() != '\n') in.setstate(std::ios::failbit);
  out += padding;
  out += '\n';
}

// One Base64 line of a PEM body. Returns true when it was a complete line without padding
// and the body may go on.
bool ReadPemLine(std::istream& in, std::string& out) {
  std::string run;
  in >> ReadWhile{IsBase64Char, run, 0, kMaxBase64LineLength};
  if (run.empty()) return false;
  out += run;
  int next = in.peek();
  if (next == '\n') {
    out += '\n';
    in.get();
  } else if (next != '=') {
    in.setstate(std::ios::failbit);
    return false;
  }
  if (in.peek() == '=') {
    ReadPadding(in, out);
    return false;
  }
  return true;
}

}  // namespace

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The text is only ever read: the streambuf's defaults refuse to put back a character other
// than the one read, so nothing is written through the pointers.
TextViewStream::Buffer::Buffer(std::string_view text) {
  char* begin = const_cast<char*>(text.data());
  setg(begin, begin, begin + text.size());
}

TextViewStream::TextViewStream(std::string_view text) : std::istream(nullptr), buffer_(text) {
  rdbuf(&buffer_);
}

std::istream& operator>>(std::istream& in, const ExpectText& step) {
  for (char expected : step.literal) {
    int c = in.get();
    if (!in) continue;
    if (c != Traits::to_int_type(expected)) {
      in.setstate(std::ios::failbit);
      break;
    }
  }
  return in;
}

std::istream& operator>>(std::istream& in, const ReadWhile& step) {
  step.out.clear();
  std::size_t count = 0;
  for (;;) {
    int c = in.get();
    if (!in) break;
    if (!step.test(Traits::to_char_type(c)) || ++count > step.maximum) {
      in.unget();
      break;
    }
    step.out += Traits::to_char_type(c);
  }
  if (count < step.minimum || count > step.maximum) in.setstate(std::ios::failbit);
  return in;
}

std::istream& operator>>(std::istream& in, const ReadPemBody& step) {
  if (step.maxLines == 0) {
    in.setstate(std::ios::failbit);
    return in;
  }
  std::size_t lines = 0;
  while (ReadPemLine(in, step.out)) {
    if (++lines == step.maxLines) break;
  }
  if (lines == 0) in.setstate(std::ios::failbit);
  return in;
}

std::istream& operator>>(std::istream& in, const ReadUntil& step) {
  if (!in) return in;
  std::string buffer;
  // What the stream knows it holds, reserved at once: a long text is not copied as it grows.
  std::streamsize available = in.rdbuf()->in_avail();
  if (available > 0) buffer.reserve(static_cast<std::size_t>(available));
  for (;;) {
    int c = in.get();
    if (!in) return in;
    buffer += Traits::to_char_type(c);
    if (buffer.ends_with(step.marker)) break;
  }
  buffer.resize(buffer.size() - step.marker.size());
  step.out = std::move(buffer);
  return in;
}

std::istream& operator>>(std::istream& in, const ExpectEnd&) {
  if (!in.eof() && in.peek() == Traits::eof()) in.setstate(std::ios::eofbit);
  if (!in.eof()) in.setstate(std::ios::failbit);
  return in;
}

}  // namespace VerificationToolCrypto
