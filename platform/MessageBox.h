#pragma once
// Modal message boxes, reachable from every layer and every thread.
// The dialog layer installs a presenter that shows real boxes on the main
// thread; until then (and in the tests of the lower layers) the default one
// prints the text on standard error.
#include <string>

namespace varnel {

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
// Which window owns the box. The presenter maps it to a real window.
enum class MessageOwner { None, MainWindow, ActiveDialog };

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // text and caption are UTF-8; an empty caption means the application's name.
  // Blocks the calling thread until the operator has answered.
  virtual MessageAnswer Show(const std::string& text, const std::string& caption,
                             MessageButtons buttons, MessageOwner owner) = 0;
};

// Installs the process-wide presenter; nullptr restores the stderr default.
void SetMessagePresenter(MessagePresenter* presenter);
MessagePresenter& CurrentMessagePresenter();

MessageAnswer ShowMessage(const std::string& text, const std::string& caption = {},
                          MessageButtons buttons = MessageButtons::Ok,
                          MessageOwner owner = MessageOwner::None);

}  // namespace varnel
