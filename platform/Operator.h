#pragma once
// How the program reaches the operator: modal message boxes, and notifications
// posted to windows found by their caption. The link, the protocol, the ledger
// and the dialogs are handed an Operator; the dialog layer implements both
// sides on real windows, tests record them. Nothing here knows which program
// or which windows it serves.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
// Which window owns the box. The presenter maps it to a real window.
enum class MessageOwner { None, MainWindow, ActiveDialog };

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // text and caption are UTF-8; an empty caption means the application's name.
  // Blocks the calling thread until the operator has answered. Any thread.
  virtual MessageAnswer Show(const std::string& text, const std::string& caption,
                             MessageButtons buttons, MessageOwner owner) = 0;
};

// A posted event: a message code with two parameters and, for texts, an owned string.
struct Notification {
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  std::optional<std::string> text;  // absent = no text
};

class NotificationPoster {
 public:
  virtual ~NotificationPoster() = default;
  // Posts to the top-level window whose caption is exactly windowCaption, to be
  // handled on its thread in posting order; never waits for it. Answers false,
  // dropping the notification and its text, when no such window exists.
  // Safe to call from any thread.
  virtual bool Post(std::string_view windowCaption, Notification notification) = 0;
  // Whether a top-level window with exactly this caption exists now. Any thread.
  virtual bool HasWindow(std::string_view windowCaption) = 0;
};

// Both ways to the operator, handed on together. It refers to objects that
// outlive everything it is handed to (built first in main() or a test).
struct Operator {
  MessagePresenter& boxes;
  NotificationPoster& poster;

  MessageAnswer ShowMessage(const std::string& text, const std::string& caption = {},
                            MessageButtons buttons = MessageButtons::Ok,
                            MessageOwner owner = MessageOwner::None) const {
    return boxes.Show(text, caption, buttons, owner);
  }
};

}  // namespace varnel
