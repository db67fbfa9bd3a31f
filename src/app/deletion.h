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
  std::vector<std::int32_t> deleted_;
};

}  // namespace kelvrin::app
