#include <gtest/gtest.h>

#include <stdexcept>

#include "mail/mail_message.h"

namespace kelvrin::mail {
namespace {

TEST(MessageOwner, CreatedMessagesKnowTheirOwner) {
  MessageOwner owner;
  TMailMessage& m = owner.CreateMessage();
  EXPECT_EQ(m.Owner(), &owner);
  EXPECT_EQ(owner.OwnedCount(), 1u);
  owner.DestroyMessage(m);
  EXPECT_EQ(owner.OwnedCount(), 0u);
}

TEST(MessageOwner, DestroyingAnotherOwnersMessageIsRefused) {
  MessageOwner a;
  MessageOwner b;
  TMailMessage& m = a.CreateMessage();
  EXPECT_THROW(b.DestroyMessage(m), std::invalid_argument);
  EXPECT_EQ(a.OwnedCount(), 1u);
}

TEST(TMailMessageList, AddReturnsIndexAndRejectsStandaloneMessages) {
  MessageOwner owner;
  TMailMessageList list;
  EXPECT_EQ(list.Add(owner.CreateMessage()), 0u);
  EXPECT_EQ(list.Add(owner.CreateMessage()), 1u);
  TMailMessage standalone;
  EXPECT_THROW(list.Add(standalone), std::invalid_argument);
  EXPECT_EQ(list.Count(), 2u);
}

TEST(TMailMessageList, ClearKeepsMessagesWithTheirOwner) {
  MessageOwner owner;
  TMailMessageList list;
  TMailMessage& m = owner.CreateMessage();
  m.Subject = "alive";
  list.Add(m);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  ASSERT_EQ(owner.OwnedCount(), 1u);
  EXPECT_EQ(m.Subject, "alive");
}

TEST(TMailMessageList, DeleteDestroysAndShiftsTheRest) {
  MessageOwner owner;
  TMailMessageList list;
  for (const char* s : {"one", "two", "three"}) {
    TMailMessage& m = owner.CreateMessage();
    m.Subject = s;
    list.Add(m);
  }
  list.Delete(0);
  EXPECT_EQ(owner.OwnedCount(), 2u);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Items(0).Subject, "two");
  EXPECT_EQ(list.Items(1).Subject, "three");
  EXPECT_THROW(list.Delete(5), std::out_of_range);
}

TEST(TMailMessageList, DeleteOfMessageListedTwiceWaitsForTheLastReference) {
  MessageOwner owner;
  TMailMessageList first;
  TMailMessageList second;
  TMailMessage& m = owner.CreateMessage();
  m.Subject = "shared";
  first.Add(m);
  second.Add(m);
  first.Delete(0);
  // The second list still refers to it: it must not dangle.
  ASSERT_EQ(owner.OwnedCount(), 1u);
  EXPECT_EQ(second.Items(0).Subject, "shared");
  second.Clear();
  EXPECT_EQ(owner.OwnedCount(), 0u);
}

TEST(TMailMessageList, DestroyMessageWhileListedIsDeferred) {
  MessageOwner owner;
  TMailMessage& m = owner.CreateMessage();
  {
    TMailMessageList list;
    list.Add(m);
    owner.DestroyMessage(m);
    ASSERT_EQ(owner.OwnedCount(), 1u);
    EXPECT_EQ(&list.Items(0), &m);
  }
  // Destroying the list let go of the last reference.
  EXPECT_EQ(owner.OwnedCount(), 0u);
}

TEST(MessageOwner, ReleaseUnlistedFreesOnlyUnlistedMessages) {
  MessageOwner owner;
  TMailMessageList list;
  TMailMessage& listed = owner.CreateMessage();
  listed.Subject = "listed";
  owner.CreateMessage();
  TMailMessage& dropped = owner.CreateMessage();
  list.Add(listed);
  list.Add(dropped);
  list.Clear();
  list.Add(listed);
  EXPECT_EQ(owner.ReleaseUnlisted(), 2u);
  ASSERT_EQ(owner.OwnedCount(), 1u);
  EXPECT_EQ(list.Items(0).Subject, "listed");
  list.Clear();
  EXPECT_EQ(owner.ReleaseUnlisted(), 1u);
  EXPECT_EQ(owner.ReleaseUnlisted(), 0u);
}

}  // namespace
}  // namespace kelvrin::mail
