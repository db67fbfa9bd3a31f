#pragma once

// Deletion on the server of every marked row: the spam delete, Delete All
// and Send/Receive commands share it and are told apart by their tag. On a
// server that gives unique ids the messages are found again by id in a fresh
// session; otherwise the session the check kept open still has the
// positions of the check.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvrin::app {

class TKVmain;
struct ViewRow;

// What the accepted DELEs of a deletion came to. A DELE the server accepted
// takes effect only when its session ends with QUIT, and a server may say
// "+OK" and delete nothing: only the check that follows the deletion shows
// what is really gone.
struct DeletionEffect {
  // A check listed the mailbox after the deletion; without one the rest
  // says nothing.
  bool Verified = false;
  // Messages (their MsgIndex in the check that listed them) whose DELE was
  // accepted and that the following check no longer lists.
  std::vector<std::int32_t> Gone;
  // Messages whose DELE was accepted but that the following check still
  // lists.
  int StillListed = 0;
};

// What tells one message from another across two checks: its unique id, or
// without one its sender, subject, date and size.
std::string MessageIdentity(TKVmain& kv, const ViewRow& row);

class Deletion {
 public:
  explicit Deletion(TKVmain& kv);

  // originTag: 2 spam delete, 4 Delete All, 3 Send/Receive, 0 anything else.
  // automatic: started by the check itself ("Non-Interactive Spam Delete"),
  // not by the user.
  void btDeleteClick(int originTag, bool automatic = false);

  // One row (by its position in the view); sets Abort to stop the walk.
  void DeleteRecord(std::size_t rowIndex, bool& Abort);

  // The current server position of a message: 1 + the index of the entry of
  // UIDLList that is exactly UIDL (blanks around either ignored); the number
  // of entries + 1 when no entry is; -1 when UIDL or the list is empty.
  int ReturnUIDLpos(const std::string& UIDL) const;

  // The warning before Delete All deletes valid mail; true to go on.
  bool CheckB4Del();

  // A deletion is running (between its session opening and its end).
  bool Running() const { return running_; }

  // Messages whose DELE the server accepted in the last deletion (their
  // MsgIndex in the check that listed them); final once the session quits.
  const std::vector<std::int32_t>& Deleted() const { return deleted_; }
  // Whether the last deletion got through every marked row.
  bool LastCompleted() const { return lastCompleted_; }
  // Judged by the check that followed the last deletion (none after
  // Send/Receive, which quits the session itself).
  const DeletionEffect& Effect() const { return effect_; }
  // Why marked messages were not deleted by the last deletion, one reason
  // each, in the words of the status bar's reason panel.
  const std::vector<std::string>& Problems() const { return problems_; }

  int MarkedCount() const { return markedCount_; }
  int DeletedCount() const { return deletedCount_; }

  // The POP3 client reported an error (the check cycle's OnError handler).
  void clientReportedError() { errorReported_ = true; }

 private:
  TKVmain& kv_;
  int markedCount_ = 0;
  int deletedCount_ = 0;
  bool running_ = false;
  bool errorReported_ = false;
  bool lastCompleted_ = false;
  bool failedRecord_ = false;
  std::uint64_t cancelsAtStart_ = 0;
  // Marked messages that were not deleted: the status text and the reason.
  void noteProblem(std::string status, std::string reason);
  // Tells the user what the last deletion could not do; nothing when it did
  // everything.
  void showProblems();
  // The accepted DELEs against the rows the view lists now.
  DeletionEffect judgeEffect();

  std::vector<std::int32_t> deleted_;
  // The identity of each message in deleted_, taken when its DELE was
  // accepted.
  std::vector<std::string> deletedIdentities_;
  std::vector<std::string> problems_;
  std::string problemStatus_;
  DeletionEffect effect_;
};

}  // namespace kelvrin::app
