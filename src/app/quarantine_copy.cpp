#include "app/quarantine_copy.h"

#include <algorithm>
#include <charconv>
#include <memory>

#include "app/kvmain.h"
#include "ui/prompter.h"

namespace kelvrin::app {

namespace {

std::string megabytes(std::int64_t bytes) {
  const std::int64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

// The size the check's LIST gave, when the row still refers to the message
// at that position of the check.
std::int64_t listedSize(TKVmain& kv, const filter::MessageNode& node) {
  if (node.MsgIndex < 0) return -1;
  const auto index = static_cast<std::size_t>(node.MsgIndex);
  if (index >= kv.MessageList1.Count()) return -1;
  const mail::TMailMessage& m = kv.MessageList1.Items(index);
  if (m.UIDL != node.UIDL) return -1;
  return m.Size;
}

}  // namespace

quarantine::QuarantineSettings QuarantineSettingsOf(const settings::Form& KVmain) {
  quarantine::QuarantineSettings s;
  s.Enabled = KVmain.checked("KeepDeleted1");
  s.RetentionDays = std::max(1, KVmain.value("KeepDeletedDays"));
  s.SizeCap = std::int64_t{std::max(1, KVmain.value("KeepDeletedMB"))} * 1024 * 1024;
  return s;
}

QuarantineCopy::QuarantineCopy(quarantine::QuarantineStore& store, bool askForLarge)
    : store_(store), askForLarge_(askForLarge) {}

bool QuarantineCopy::refuse(TKVmain& kv, std::int32_t msgIndex, const std::string& why) {
  const std::string text = "Message #" + std::to_string(msgIndex + 1) + " not deleted: " + why;
  kv.dfsStatus.setStatus("Status: " + text);
  notDeleted_.push_back(text);
  return false;
}

bool QuarantineCopy::CopyBeforeDelete(TKVmain& kv, std::uint16_t position,
                                      const filter::MessageNode& node) {
  const quarantine::QuarantineSettings settings = QuarantineSettingsOf(*kv.KVmain);
  if (!settings.Enabled) return true;
  const std::int32_t msgIndex = node.MsgIndex;

  if (const std::int64_t size = listedSize(kv, node); size > settings.SizeCap) {
    const std::string what = "Message #" + std::to_string(msgIndex + 1) + " (" + megabytes(size) +
                             ") is larger than the space for deleted mail (" +
                             megabytes(settings.SizeCap) + ")";
    if (askForLarge_ &&
        kv.Prompter.MsgBox(what + ".\rDelete it without keeping a copy?", "Kelvrin", false,
                           ui::kMbYesNo + ui::kMbIconExclamation) == ui::kIdYes) {
      ++withoutCopy_;
      return true;
    }
    return refuse(kv, msgIndex,
                  askForLarge_ ? "too large to keep a copy"
                               : "too large to keep a copy (" + megabytes(size) + ")");
  }

  std::unique_ptr<quarantine::QuarantineStore::Writer> writer;
  try {
    writer = store_.Begin();
  } catch (const quarantine::QuarantineError& e) {
    return refuse(kv, msgIndex, e.what());
  }
  // The message is read to its end whatever happens to the copy, so that
  // the session can go on with the next one.
  std::string storeError;
  const bool received = kv.Pop3Client1.RetrieveRaw(position, [&](std::string_view bytes) {
    if (!storeError.empty()) return;
    if (writer->Size() + static_cast<std::int64_t>(bytes.size()) > settings.SizeCap) {
      storeError = "too large to keep a copy (more than " + megabytes(settings.SizeCap) + ")";
      writer.reset();
      return;
    }
    try {
      writer->Append(bytes);
    } catch (const quarantine::QuarantineError& e) {
      storeError = e.what();
    }
  });
  if (!received) {
    // A cancel says nothing of this message; the deletion ends anyway.
    if (kv.Pop3Client1.Aborted) return false;
    return refuse(kv, msgIndex, "the server did not send it (" + kv.Pop3Client1.ReplyText + ")");
  }
  if (!storeError.empty()) return refuse(kv, msgIndex, storeError);

  quarantine::QuarantineEntry entry;
  entry.Host = kv.Pop3Client1.Host;
  const std::string& portText = kv.Pop3Client1.Port;
  const auto first = portText.find_first_not_of(' ');
  if (first != std::string::npos) {
    std::from_chars(portText.data() + first, portText.data() + portText.size(), entry.Port);
  }
  entry.User = kv.Pop3Client1.UserId;
  entry.UIDL = node.UIDL;
  entry.From = node.From;
  entry.Subject = node.Subject;
  entry.Level = node.SpamLevel;
  try {
    kept_.push_back(writer->Commit(entry));
  } catch (const quarantine::QuarantineError& e) {
    return refuse(kv, msgIndex, e.what());
  }
  try {
    store_.Prune(settings);
  } catch (const quarantine::QuarantineError&) {
    // The copy is kept; older ones go at the next deletion.
  }
  return true;
}

}  // namespace kelvrin::app
