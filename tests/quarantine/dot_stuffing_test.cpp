// The transparency of the copy's way in (a RETR reply turned back into the
// message) and out (the message as SMTP data), wherever the stream is cut.

#include "protocols/dot_stuffing.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvrin::protocols {
namespace {

// A message with every line start that matters, and the RETR reply that
// carries it (RFC 1939 section 3).
const std::string kMessage =
    "Subject: dots\r\n\r\n.\r\n..\r\n.x\r\n\r\n. \r\nmid.dle\r\n.\rbare CR\r\n\t.\r\nend\r\n";
const std::string kReply =
    "+OK 73 octets\r\n"
    "Subject: dots\r\n\r\n..\r\n...\r\n..x\r\n\r\n.. \r\nmid.dle\r\n..\rbare CR\r\n\t.\r\nend\r\n"
    ".\r\n";

TEST(DotUnstuffer, GivesTheMessageWhereverTheReplyIsCut) {
  for (std::size_t first = 0; first <= kReply.size(); ++first) {
    for (std::size_t second = first; second <= kReply.size(); second += 7) {
      DotUnstuffer unstuffer;
      std::string out;
      const bool a = unstuffer.Feed(std::string_view(kReply).substr(0, first), out);
      const bool b = unstuffer.Feed(std::string_view(kReply).substr(first, second - first), out);
      const bool c = unstuffer.Feed(std::string_view(kReply).substr(second), out);
      EXPECT_EQ(out, kMessage) << "cut at " << first << " and " << second;
      EXPECT_TRUE(c);
      EXPECT_EQ(a, first == kReply.size()) << first;
      EXPECT_EQ(b, second == kReply.size()) << second;
    }
  }
}

TEST(DotUnstuffer, WhatFollowsTheEndIsNotPartOfTheMessage) {
  DotUnstuffer unstuffer;
  std::string out;
  EXPECT_TRUE(unstuffer.Feed("+OK\r\nbody\r\n.\r\n+OK next reply\r\n", out));
  EXPECT_TRUE(unstuffer.Feed("more", out));
  EXPECT_EQ(out, "body\r\n");
}

TEST(DotUnstuffer, ReplyWithoutItsEndIsNotComplete) {
  // Everything but the terminating line, or only its dot.
  for (const char* reply :
       {"+OK\r\nbody\r\n", "+OK\r\nbody\r\n.", "+OK\r\nbody\r\n.\r", "+OK\r\nbody\r\n..\r\n"}) {
    DotUnstuffer unstuffer;
    std::string out;
    EXPECT_FALSE(unstuffer.Feed(reply, out)) << reply;
    EXPECT_FALSE(unstuffer.Complete()) << reply;
  }
}

TEST(DotStuffer, GivesTheSameDataWhereverTheMessageIsCut) {
  // Bare line ends become CR LF on the way out, so that no server reads the
  // end of the data where the message has none.
  const std::string message = ".a\n.\r\nb\rc\r\r\n..\nlast";
  const std::string data = "..a\r\n..\r\nb\r\nc\r\n\r\n...\r\nlast\r\n.\r\n";
  for (std::size_t cut = 0; cut <= message.size(); ++cut) {
    DotStuffer stuffer;
    std::string out;
    stuffer.Feed(std::string_view(message).substr(0, cut), out);
    stuffer.Feed(std::string_view(message).substr(cut), out);
    stuffer.Finish(out);
    EXPECT_EQ(out, data) << "cut at " << cut;
  }
}

TEST(DotStuffer, StuffedMessageComesBackUnchanged) {
  DotStuffer stuffer;
  std::string data = "+OK\r\n";
  stuffer.Feed(kMessage, data);
  stuffer.Finish(data);
  DotUnstuffer unstuffer;
  std::string back;
  EXPECT_TRUE(unstuffer.Feed(data, back));
  EXPECT_EQ(back, std::string(kMessage).replace(kMessage.find(".\rbare"), 2, ".\r\n"));
}

TEST(DotStuffer, EmptyMessageIsTheTerminatorAlone) {
  DotStuffer stuffer;
  std::string out;
  stuffer.Finish(out);
  EXPECT_EQ(out, ".\r\n");
}

}  // namespace
}  // namespace kelvrin::protocols
