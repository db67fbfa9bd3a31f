#include "mail/codecs.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/mail_message.h"

namespace kelvrin::mail {
namespace {

std::string decodeBase64(std::string_view text) {
  std::string out;
  StringSink sink(out);
  TBase64DecodingStream decoder(sink);
  decoder.Write(text.data(), text.size());
  return out;
}

struct Base64Case {
  const char* name;
  std::string encoded;
  std::string decoded;
};

class Base64Decoding : public testing::TestWithParam<Base64Case> {};

TEST_P(Base64Decoding, DecodesToExpectedBytes) {
  EXPECT_EQ(decodeBase64(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    TBase64DecodingStream, Base64Decoding,
    testing::Values(Base64Case{"ThreeBytes", "TWFu", "Man"}, Base64Case{"OnePad", "TWE=", "Ma"},
                    Base64Case{"TwoPads", "TQ==", "M"},
                    Base64Case{"LineBreaksSkipped", "TW\r\nFu\nTW\rFu", "ManMan"},
                    Base64Case{"PaddedGroupDoesNotEndData", "TQ==TWFu", "MMan"},
                    Base64Case{"LeadingPadWritesNothing", "====TWFu", "Man"},
                    Base64Case{"IncompleteGroupWaits", "TWFuTW", "Man"},
                    Base64Case{"HighBitAndAllBits", "/+8A", std::string("\xff\xef\x00", 3)}),
    [](const auto& info) { return info.param.name; });

TEST(TBase64DecodingStream, SplitAtEveryPointDecodesLikeOneWrite) {
  const std::string text = "SGVsbG8sIFdvcmxkIQ==\r\nQW5vdGhlciBsaW5l";
  const std::string whole = decodeBase64(text);
  ASSERT_EQ(whole, "Hello, World!Another line");
  for (std::size_t a = 0; a <= text.size(); ++a) {
    for (std::size_t b = a; b <= text.size(); ++b) {
      std::string out;
      StringSink sink(out);
      TBase64DecodingStream decoder(sink);
      decoder.Write(text.data(), a);
      decoder.Write(text.data() + a, b - a);
      decoder.Write(text.data() + b, text.size() - b);
      ASSERT_EQ(out, whole) << "split at " << a << " and " << b;
    }
  }
}

TEST(TBase64DecodingStream, WrittenCountIsPerCall) {
  std::string out;
  StringSink sink(out);
  TBase64DecodingStream decoder(sink);
  EXPECT_EQ(decoder.Write("TW", 2), 0u);
  EXPECT_EQ(decoder.Write("FuTQ==", 6), 4u);
}

TEST(TBase64DecodingStream, FoldedAt76DecodesAsUnfolded) {
  std::string data;
  for (int i = 0; i < 300; ++i)
    data += static_cast<char>(i * 7);
  const std::string folded = TBase64Codec::Encode(data, true);
  ASSERT_NE(folded.find("\r\n"), std::string::npos);
  EXPECT_EQ(decodeBase64(folded), data);
}

TEST(TBase64DecodingStream, BlankTakesAPlaceInItsGroup) {
  EXPECT_NE(decodeBase64("TW Fu"), decodeBase64("TWFu"));
  EXPECT_EQ(decodeBase64("TW Fu").size(), decodeBase64("TWFu").size());
}

class FailingSink : public ByteSink {
 public:
  bool WriteBytes(const char*, std::size_t) override { return false; }
};

TEST(TBase64DecodingStream, FailingDestinationReturnsZeroAndDropsInput) {
  FailingSink failing;
  TBase64DecodingStream decoder(failing);
  EXPECT_EQ(decoder.Write("TWFuTW", 6), 0u);
  // The two buffered characters were dropped with the failed write.
  std::string out;
  StringSink sink(out);
  TBase64DecodingStream fresh(sink);
  EXPECT_EQ(fresh.Write("Fu", 2), 0u);
}

TEST(TBase64DecodingStream, ReadAndSeekAreInvalid) {
  std::string out;
  StringSink sink(out);
  TBase64DecodingStream decoder(sink);
  char buffer[4];
  try {
    decoder.Read(buffer, 4);
    FAIL() << "Read returned";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "Invalid stream operation");
  }
  EXPECT_THROW(decoder.Seek(0, 0), MailError);
}

struct QPCase {
  const char* name;
  std::string encoded;
  std::string decoded;
};

class QuotedPrintable : public testing::TestWithParam<QPCase> {};

TEST_P(QuotedPrintable, DecodesString) {
  std::string text = GetParam().encoded;
  TQPCodec::Decode(text);
  EXPECT_EQ(text, GetParam().decoded);
}

TEST_P(QuotedPrintable, DecodesNulTerminatedInPlace) {
  if (GetParam().encoded.find('\0') != std::string::npos) GTEST_SKIP();
  std::string buffer = GetParam().encoded;
  const std::size_t n = TQPCodec::Decode(buffer.data());
  EXPECT_EQ(std::string(buffer.data(), n), GetParam().decoded);
  EXPECT_EQ(buffer[n], '\0');
}

INSTANTIATE_TEST_SUITE_P(TQPCodec, QuotedPrintable,
                         testing::Values(QPCase{"EqualsSign", "a=3Db", "a=b"},
                                         QPCase{"LowerHex", "=e9", "\xe9"},
                                         QPCase{"UpperHex", "=E9", "\xe9"},
                                         QPCase{"SoftBreak", "ab=\r\ncd", "abcd"},
                                         QPCase{"NotHexGivesAt", "x=ZZy", "x@y"},
                                         QPCase{"TrailingEquals", "abc=", "abc"},
                                         QPCase{"OneCharAfterEquals", "abc=4", "abc"},
                                         QPCase{"UnderscoreAndBlanksStay", "a_b  c ", "a_b  c "},
                                         QPCase{"BareLfBreakKeepsNextLine", "ab=\ncd", "abcd"},
                                         QPCase{"EqualsCrAtEnd", "ab=\r", "ab"}),
                         [](const auto& info) { return info.param.name; });

TEST(TBase64Codec, EncodesKnownValues) {
  EXPECT_EQ(TBase64Codec::Encode("Man"), "TWFu");
  EXPECT_EQ(TBase64Codec::Encode("M"), "TQ==");
  EXPECT_EQ(TBase64Codec::Encode("Ma"), "TWE=");
  EXPECT_EQ(TBase64Codec::Encode(std::string("\0\xff", 2)), "AP8=");
}

TEST(TBase64Codec, EmptyDataRaises) {
  try {
    TBase64Codec::Encode("");
    FAIL() << "no error";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "Invalid Base64 String - Length:0");
  }
}

TEST(TBase64Codec, LineBreaksAfterEvery76Characters) {
  EXPECT_EQ(TBase64Codec::Encode(std::string(57, 'a'), true).size(), 76u);
  const std::string two = TBase64Codec::Encode(std::string(58, 'a'), true);
  ASSERT_EQ(two.size(), 76u + 2 + 4);
  EXPECT_EQ(two.substr(76, 2), "\r\n");
  // Exactly two full lines: no break after the last one.
  const std::string full = TBase64Codec::Encode(std::string(114, 'a'), true);
  EXPECT_EQ(full.size(), 76u * 2 + 2);
  EXPECT_EQ(TBase64Codec::Encode(std::string(58, 'a'), false).find('\r'), std::string::npos);
}

TEST(TBase64Codec, RoundTripsThroughDecoder) {
  std::string data;
  for (int i = 0; i < 1000; ++i)
    data += static_cast<char>((i * 131) ^ (i >> 3));
  for (std::size_t n : {1u, 2u, 3u, 4u, 56u, 57u, 58u, 1000u}) {
    const std::string part = data.substr(0, n);
    EXPECT_EQ(decodeBase64(TBase64Codec::Encode(part, n % 2 == 0)), part) << n;
  }
}

}  // namespace
}  // namespace kelvrin::mail
