#pragma once

// The deletion's copy of every message before its DELE: the whole message
// is fetched (RETR, same session, same position as the DELE) into the
// quarantine. A message whose copy cannot be kept is not deleted; one larger
// than the quarantine may hold is deleted without a copy only when the user
// says so.

#include <cstdint>
#include <string>
#include <vector>

#include "app/later_parts.h"
#include "settings/form.h"

#include "quarantine/quarantine_store.h"

namespace kelvrin::app {

// The options KeepDeleted1, KeepDeletedDays and KeepDeletedMB of the main
// window (a number below 1 counts as 1).
quarantine::QuarantineSettings QuarantineSettingsOf(const settings::Form& KVmain);

class QuarantineCopy final : public DeletionCopy {
 public:
  // askForLarge: a message too large to keep is deleted after a Yes to the
  // question; without it (no one to ask) it stays on the server.
  QuarantineCopy(quarantine::QuarantineStore& store, bool askForLarge);

  bool CopyBeforeDelete(TKVmain& kv, std::uint16_t position,
                        const filter::MessageNode& node) override;

  // What the deletions so far kept, and why messages were not deleted (the
  // status texts, which a following check replaces).
  const std::vector<quarantine::QuarantineEntry>& Kept() const { return kept_; }
  const std::vector<std::string>& NotDeleted() const { return notDeleted_; }
  // Messages deleted without a copy because they were too large (the user
  // said Yes).
  int DeletedWithoutCopy() const { return withoutCopy_; }

 private:
  bool refuse(TKVmain& kv, std::int32_t msgIndex, const std::string& why);

  quarantine::QuarantineStore& store_;
  bool askForLarge_;
  std::vector<quarantine::QuarantineEntry> kept_;
  std::vector<std::string> notDeleted_;
  int withoutCopy_ = 0;
};

}  // namespace kelvrin::app
