#include "app/body_display.h"

#include <cstdlib>
#include <exception>
#include <memory>

#include "app/check_cycle.h"
#include "app/deletion.h"
#include "app/kvmain.h"
#include "app/session_guard.h"
#include "mail/display_text.h"

namespace kelvrin::app {

namespace {

constexpr std::size_t kWrapAfter = 120;
constexpr int kLineHeight = 13;
constexpr std::size_t kQuoteLimit = 250;

// Blanks and control characters off both ends.
std::string_view trimControls(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ')
    ++first;
  std::size_t last = text.size();
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
    --last;
  return text.substr(first, last - first);
}

}  // namespace

namespace {

std::string joinedWithoutNbsp(const mail::TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  static constexpr std::string_view kNbsp = "&nbsp;";
  std::string result;
  result.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(kNbsp, pos);
    if (hit == std::string::npos) break;
    result.append(text, pos, hit - pos);
    pos = hit + kNbsp.size();
  }
  result.append(text, pos, std::string::npos);
  return result;
}

}  // namespace

std::string bodyText(const mail::TMailMessage& message) {
  return joinedWithoutNbsp(message.Text);
}

std::string bodyDisplayText(const mail::TMailMessage& message) {
  return joinedWithoutNbsp(mail::DisplayTextLines(message));
}

std::string wrapBody(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / kWrapAfter + 1);
  std::size_t counter = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const char c = text[i];
    ++counter;
    if (counter > kWrapAfter && c == ' ') {
      out += ' ';
      out += '\r';
      counter = 0;
      continue;
    }
    if (counter <= kWrapAfter && c == '\r') counter = 0;
    out += c;
  }
  return out;
}

std::string displayText(std::string_view wrapped, int viewHeight) {
  std::string result;
  std::size_t pos = 0;
  int taken = 0;
  for (;;) {
    const std::size_t end = wrapped.find("\r\n", pos);
    if (end == std::string_view::npos) {
      result.append(wrapped.substr(pos));
      break;
    }
    const std::string_view piece = trimControls(wrapped.substr(pos, end - pos));
    if (!piece.empty()) {
      result.append(piece);
      result += '\r';
    }
    pos = end + 2;
    ++taken;
    if (taken * kLineHeight > viewHeight) break;
  }
  return result;
}

std::string replyQuote(std::string_view display) {
  std::string quote = "\r-------- Original Message --------\r";
  quote.append(display);
  if (quote.size() > kQuoteLimit) {
    quote.resize(kQuoteLimit);
    quote += "\r-------- truncated here --------\r";
  }
  return quote;
}

BodyDisplay::BodyDisplay(TKVmain& kv) : kv_(kv) {}

void BodyDisplay::DisplayBody() {
  auto& view = kv_.VTree1;
  auto& s = kv_.State;
  auto& client = kv_.Pop3Client1;

  const auto focused = view.FocusedRow();
  if (!focused || view.SelectedCount() > 1 || view.Editor().Editing) {
    kv_.ETimer1.setEnabled(false);
    return;
  }
  // Another operation holds the session (Enter pressed while a check runs).
  if (s.CheckInProgress || sessionOwned(s)) return;
  SessionGuard session(kv_, SessionOperation::BodyDisplay);
  const std::uint64_t cancelsAtStart = kv_.Check().CancelCount();
  const auto cancelled = [&] { return kv_.Check().CancelCount() != cancelsAtStart; };

  const std::uint32_t focusedId = view.Row(*focused).Id;
  const filter::MessageNode node = view.Row(*focused).Node;
  const std::uint16_t serverNumber = view.Row(*focused).ServerNumber;

  kv_.ETimer1.setEnabled(false);
  kv_.dfsStatus.setGauge(0);
  s.CheckInProgress = true;

  // A server without unique ids: the check kept its session open, logged in,
  // with the positions of the check. Use it as it is — logging in again on
  // it would be refused — and leave it open for a deletion.
  const bool heldSession = !s.UIDLCapable && client.Connected();
  bool handlersSwapped = false;
  std::unique_ptr<mail::TMailMessage> message;

  try {
    // The call is asynchronous: the fetch waits until the line is up, and
    // a call that does not come up has said why in the status.
    if (s.OnlineState == kOffline && !kv_.dialUp().DialAndWait()) {
      s.CheckInProgress = false;
      return;
    }
    if (!heldSession) {
      s.CheckInProgress = kv_.InitComms();
      if (!s.CheckInProgress) return;
    }
    if (s.OnlineState == kOffline) s.OnlineState = kOnline;
    if (s.UIDLCapable) {
      kv_.UIDLList.clear();
      client.GetUIDLList(kv_.UIDLList);
    }

    // Which message to fetch. In a fresh session of a server with ids only
    // the id says it (a row without one, or a session without the list,
    // would mean guessing: another message's body could be shown for it);
    // one not among the ids gets a number no message has, so the server
    // refuses. Without ids, the number the check's session gave it.
    long number = 0;
    if (s.UIDLCapable) {
      if (!kv_.UIDLList.empty()) number = kv_.Delete().ReturnUIDLpos(node.UIDL);
    } else {
      number = serverNumber;
    }
    if (number < 1) {
      kv_.dfsStatus.setStatus("Status: No message ids from the server");
    } else if (!cancelled()) {
      client.OnAfterRetrieve = nullptr;
      client.OnRetrieveProgress = [this](protocols::TPop3Client&, std::uint16_t percent) {
        kv_.Check().Pop3Client1RetrieveProgress(percent);
      };
      handlersSwapped = true;
      message = std::make_unique<mail::TMailMessage>();
      if (number > 65535) number = 65535;
      client.Retrieve(static_cast<std::uint16_t>(number), *message);
    }
    session.settleCancel();

    if (message && !client.Aborted && !cancelled()) {
      kv_.dfsStatus.setStatus("Status: Message retrieved");
      const std::string text = displayText(wrapBody(bodyText(*message)), view.ClientHeight());
      std::string from = node.From;
      if (node.MsgIndex >= 0 &&
          static_cast<std::size_t>(node.MsgIndex) < kv_.MessageList1.Count()) {
        from = kv_.MessageList1.Items(static_cast<std::size_t>(node.MsgIndex)).From();
      }
      lastCaption_ = "Message from " + from;
      lastText_ = text;
      lastDisplayCaption_ = "Message from " + mail::DisplayFrom(*message);
      // The window shows what a person reads: the decoded text of the same
      // lines; the quote of a reply keeps the bytes.
      lastDisplayText_ = displayText(wrapBody(bodyDisplayText(*message)), view.ClientHeight());
      int pressed = kv_.windowPort().ShowBody(lastDisplayCaption_, lastDisplayText_);
      if (pressed == 0) {
        ui::ButtonBoxArgs box;
        box.text = text;
        box.caption = lastCaption_;
        box.buttons = kBodyButtons;
        pressed = kv_.Prompter.ButtonBox(box);
      }

      const auto row = view.IndexOfId(focusedId);
      if (row) {
        switch (pressed) {
          case kBodyButtonSpam:
            if (!view.Row(*row).Checked) view.setChecked(*row, true);
            break;
          case kBodyButtonReply:
            kv_.quickReply().Open(view.Row(*row).Node, "");
            break;
          case kBodyButtonReplyQuote:
            kv_.quickReply().Open(view.Row(*row).Node, replyQuote(text));
            break;
          default:
            break;
        }
      }
    }
  } catch (const std::exception& e) {
    kv_.dfsStatus.setStatus(failureStatus(e.what()));
  }

  if (handlersSwapped) kv_.Check().attachClientEvents();
  // Esc while the box was up.
  session.settleCancel();
  if (!heldSession) {
    try {
      client.Quit();
    } catch (const std::exception& e) {
      client.Socket().Close();
      kv_.dfsStatus.setStatus(failureStatus(e.what()));
    }
  }
  message.reset();
  s.CheckInProgress = false;
}

void BodyDisplay::Timer1Timer() {
  if (!kv_.State.CheckInProgress && !sessionOwned(kv_.State) && kv_.VTree1.RootNodeCount() > 0 &&
      !kv_.KVmain->checked("EnterDispBody1")) {
    DisplayBody();
  }
}

void BodyDisplay::VTree1KeyFocusChange() {
  kv_.VTree1.setHint("");
  kv_.ETimer1.setInterval(3000);
  kv_.ETimer1.setEnabled(true);
  kv_.idleWatch().SnoozeTimerTimer(IdleWatch::Sender::MessageView);
}

void BodyDisplay::VTree1Click() {
  const auto focused = kv_.VTree1.FocusedRow();
  if (!focused) return;
  kv_.ETimer1.setInterval(3000);
  kv_.ETimer1.setEnabled(true);
  const ViewRow& row = kv_.VTree1.Row(*focused);
  const filter::MessageNode node = row.Node;
  if (row.Checked) kv_.DelButtonEnable(true);
  kv_.dfsStatus.setPanel(2, "To:" + std::to_string(node.ToLevel) +
                                " Badds:" + std::to_string(node.BaddsLevel) +
                                " Bsubj:" + std::to_string(node.BsubjLevel));
}

void BodyDisplay::VTree1KeyDown(Key key, bool ctrlR) {
  if (ctrlR) {
    if (auto focused = kv_.VTree1.FocusedRow()) {
      kv_.quickReply().Open(kv_.VTree1.Row(*focused).Node, "");
    }
    return;
  }
  if (key == Key::Up || key == Key::Down) {
    VTree1KeyFocusChange();
  } else {
    kv_.ETimer1.setEnabled(false);
  }
  if (key == Key::Enter && kv_.KVmain->checked("EnterDispBody1") && !kv_.State.DisplayActive) {
    kv_.State.DisplayActive = true;
    DisplayBody();
    kv_.State.DisplayActive = false;
  }
}

void BodyDisplay::VTree1Scroll() {
  kv_.ETimer1.setEnabled(false);
}

void BodyDisplay::VTree1MouseMove(int screenY) {
  kv_.idleWatch().SnoozeTimerTimer(IdleWatch::Sender::Window);
  if (std::abs(screenY - lastMouseY_) > 4) {
    lastMouseY_ = screenY;
    kv_.ETimer1.setEnabled(false);
  }
}

}  // namespace kelvrin::app
