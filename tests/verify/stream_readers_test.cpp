#include "verify/stream_readers.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace VerificationToolCrypto;

std::istringstream Input(const std::string& text) {
  std::istringstream in(text);
  in >> std::noskipws;
  return in;
}

std::string Rest(std::istream& in) {
  in.clear();
  std::string rest;
  std::getline(in, rest, '\0');
  return rest;
}

TEST(ReadWhile, KeepsAtMostTheMaximumAndFailsOnALongerRun) {
  std::string line79(79, 'A');
  auto in = Input(line79 + "\n");
  std::string out = "old";
  in >> ReadWhile{IsBase64Char, out, 0, 79};
  EXPECT_TRUE(in.good());
  EXPECT_EQ(out, line79);
  EXPECT_EQ(in.peek(), '\n');

  auto longer = Input(line79 + "B\n");
  longer >> ReadWhile{IsBase64Char, out, 0, 79};
  EXPECT_TRUE(longer.fail());
  EXPECT_EQ(out, line79);
  EXPECT_EQ(Rest(longer), "B\n");
}

TEST(ReadWhile, ShortRunOrEndOfInputFails) {
  std::string out;
  auto in = Input("ab-");
  in >> ReadWhile{IsBase64Char, out, 3, 10};
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(out, "ab");
  auto atEnd = Input("abc");
  atEnd >> ReadWhile{IsBase64Char, out, 0, 10};
  EXPECT_TRUE(atEnd.fail());
  EXPECT_EQ(out, "abc");
}

TEST(ReadPemBody, TwoLinesStopAtTheEndMarker) {
  auto in = Input("AAAA\nBBBB\n-----END X-----\n");
  std::string out;
  in >> ReadPemBody{out};
  EXPECT_TRUE(in.good());
  EXPECT_EQ(out, "AAAA\nBBBB\n");
  EXPECT_EQ(Rest(in), "-----END X-----\n");
}

TEST(ReadPemBody, PaddingEndsTheBody) {
  std::string out;
  auto sameLine = Input("AAAA\nBB==\n-----");
  sameLine >> ReadPemBody{out};
  EXPECT_TRUE(sameLine.good());
  EXPECT_EQ(out, "AAAA\nBB==\n");

  std::string own;
  auto ownLine = Input("AAAA\nBB\n==\nCCCC\n");
  ownLine >> ReadPemBody{own};
  EXPECT_TRUE(ownLine.good());
  EXPECT_EQ(own, "AAAA\nBB\n==\n");
  EXPECT_EQ(Rest(ownLine), "CCCC\n");
}

TEST(ReadPemBody, RejectedLayouts) {
  struct Case {
    const char* input;
    const char* kept;
  } cases[] = {
      {"AAAB=\n-----", "AAAB=\n"},      // the only line carries padding
      {"AAAA\n=\n-----", "AAAA\n=\n"},  // its only line is followed by padding
      {"AAAA \n-----", "AAAA"},         // a space after the characters
      {"AA\nB===\n", "AA\nB==\n"},      // three padding characters
      {"AA\nBB=x\n", "AA\nBB=\n"},      // something after the padding
      {"\nAAAA\n", ""},                 // an empty first line
      {"-----END", ""},                 // no line at all
      {"AAAA\r\n-----", "AAAA"},        // carriage return line end
      {"AAAA", "AAAA"},                 // input ends inside a line
  };
  for (const Case& c : cases) {
    auto in = Input(c.input);
    std::string out;
    in >> ReadPemBody{out};
    EXPECT_TRUE(in.fail()) << c.input;
    EXPECT_EQ(out, c.kept) << c.input;
  }
}

TEST(ReadPemBody, LineLimitAndEightyCharacterLines) {
  std::string out;
  auto limited = Input("AAAA\nBBBB\nCCCC\n");
  limited >> ReadPemBody{out, 2};
  EXPECT_TRUE(limited.good());
  EXPECT_EQ(out, "AAAA\nBBBB\n");

  std::string none;
  auto zero = Input("AAAA\n");
  zero >> ReadPemBody{none, 0};
  EXPECT_TRUE(zero.fail());

  std::string longLine;
  auto tooLong = Input(std::string(80, 'Q') + "\n");
  tooLong >> ReadPemBody{longLine};
  EXPECT_TRUE(tooLong.fail());
}

TEST(ExpectText, ConsumesTheMismatchingCharacterAndNothingAfter) {
  auto in = Input("-----BEGXN rest");
  in >> ExpectText{"-----BEGIN "};
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(Rest(in), "N rest");

  auto exact = Input("abc");
  exact >> ExpectText{"ab"};
  EXPECT_TRUE(exact.good());
  exact >> ExpectText{"cd"};
  EXPECT_TRUE(exact.fail());
}

TEST(ReadUntil, StopsAtTheFirstCompleteMarker) {
  auto in = Input("a\n\nb\n--X\n--X\nc");
  std::string out;
  in >> ReadUntil{out, "\n--X\n"};
  EXPECT_TRUE(in.good());
  EXPECT_EQ(out, "a\n\nb");
  EXPECT_EQ(Rest(in), "--X\nc");
}

TEST(ReadUntil, MissingMarkerFailsAndKeepsTheOutput) {
  auto in = Input("a\n--");
  std::string out = "unchanged";
  in >> ReadUntil{out, "\n--X\n"};
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(out, "unchanged");
  in >> ReadUntil{out, "a"};
  EXPECT_EQ(out, "unchanged");
}

TEST(ExpectEnd, OnlyTheEndOfInputPasses) {
  auto empty = Input("");
  empty >> ExpectEnd{};
  EXPECT_FALSE(empty.fail());
  EXPECT_TRUE(empty.eof());

  auto more = Input("x");
  more >> ExpectEnd{};
  EXPECT_TRUE(more.fail());

  auto failed = Input("");
  failed.setstate(std::ios::failbit);
  failed >> ExpectEnd{};
  EXPECT_TRUE(failed.fail());
}

TEST(ReadingSteps, DoNothingOnAFailedStream) {
  auto in = Input("AAAA\n-----END X-----\n");
  in.setstate(std::ios::failbit);
  std::string body = "kept";
  std::string run = "x";
  in >> ReadUntil{body, "\n"} >> ReadWhile{IsBase64Char, run} >> ExpectText{"AAAA"};
  EXPECT_EQ(body, "kept");
  EXPECT_EQ(run, "");
  in.clear();
  EXPECT_EQ(in.peek(), 'A');
}

}  // namespace
