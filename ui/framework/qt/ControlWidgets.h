#pragma once
// The two composite controls the templates need beyond Qt's own widgets.
#include <QComboBox>
#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace varnel {

// Pick-only drop-down list that tells its owner before it opens (so the owner
// can refill it) and opens wide enough to read its longest entry.
class DropDownList final : public QComboBox {
 public:
  explicit DropDownList(QWidget* parent);
  void SetOpeningHandler(std::function<void()> handler) { onOpening_ = std::move(handler); }
  void showPopup() override;

 private:
  std::function<void()> onOpening_;  // main thread only
};

// Single-line edit with a "..." button that opens the file-open dialog (file
// mode, no filter) and puts the chosen path into the edit. The operator may
// also type the path.
class FileBrowseEdit final : public QWidget {
 public:
  explicit FileBrowseEdit(QWidget* parent);
  QLineEdit* Edit() const { return edit_; }
  QToolButton* BrowseButton() const { return button_; }
  // Opens the file dialog; answers whether a file was chosen.
  bool Browse();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* edit_;
  QToolButton* button_;
};

}  // namespace varnel
