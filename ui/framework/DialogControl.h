#pragma once
// One control of a dialog, reached by its id. The typed operations do what the
// dialogs ask of their controls; an operation that does not apply to the
// control's kind does nothing and answers false / -1 / an empty text.
// Main thread only, like every window.
//
// The control's window belongs to the backend, which defines NativeControl and
// every member not defined in DialogControl.cpp (the text, list, edit,
// limit and visibility operations, and RenderProgress). DialogControl.cpp
// holds what is the same on every backend: construction and the progress
// arithmetic.
#include <string>

#include "ui/framework/DialogTemplate.h"

namespace varnel {

struct NativeControl;  // the backend's window of the control

class DialogControl {
 public:
  // native: made by the backend, owned from here on. box: the template
  // rectangle in pixels, which the native control already has.
  DialogControl(const ControlTemplate& source, NativeControl* native, PixelRect box);
  ~DialogControl();  // the backend's: deletes native
  DialogControl(const DialogControl&) = delete;
  DialogControl& operator=(const DialogControl&) = delete;

  int Id() const { return id_; }
  ControlKind Kind() const { return kind_; }
  PixelRect Box() const { return box_; }
  // Static texts centred on their box (they grow on both sides when too narrow).
  bool Centered() const { return centered_; }
  NativeControl& Native() const { return *native_; }

  // Text as UTF-8: the caption of labels, group boxes and buttons, the content
  // of edits, the current entry of a list. Multi-line edits give and take
  // line ends as "\r\n".
  std::string Text() const;
  bool SetText(const std::string& utf8);
  // Limits what the operator can type into an edit to maxChars characters.
  // Text set by the program is not cut, and a longer text already shown stays
  // whole (the operator can still shorten it).
  bool SetLimitText(int maxChars);
  int LimitText() const { return limit_; }

  // Drop-down lists. Entries are kept in insertion order, never sorted.
  // Inserts at index (-1 = at the end); answers the index or -1 when index is
  // beyond the end. Inserting never selects anything by itself.
  int InsertItem(int index, const std::string& utf8);
  // Selects index; -1 or an index out of range clears the selection (answers false).
  // Programmatic selection does not raise SelectionChanged.
  bool Select(int index);
  int SelectedIndex() const;  // -1 when nothing is selected
  int ItemCount() const;
  std::string ItemText(int index) const;  // empty when index is out of range
  void ClearItems();

  // Multi-line edits: appends at the end and scrolls it into view.
  bool AppendText(const std::string& utf8);
  int LineCount() const;  // lines of an edit (an empty edit has one)
  void Clear();           // empties an edit or a list

  void Enable(bool enabled);
  bool IsEnabled() const;
  void Show(bool shown);
  bool IsShown() const;  // not hidden (whatever the dialog's own visibility)

  // Progress bars: range min..max, a step and a position. Stepping past the
  // end starts over from the beginning.
  bool SetRange(int min, int max);
  int RangeMax() const { return rangeMax_; }
  bool SetStep(int step);
  int StepIt();  // answers the previous position
  int Position() const { return position_; }
  int SetPosition(int position);  // answers the previous position

 private:
  bool IsProgress() const { return kind_ == ControlKind::ProgressBar; }

  // The backend's part: draws the bar at position_ within rangeMin_..rangeMax_
  // (empty when the range is empty). Called on construction too.
  void RenderProgress();

  int id_;
  ControlKind kind_;
  NativeControl* native_;  // owned
  PixelRect box_;
  bool centered_;
  int limit_ = 0;  // 0: no limit set by the program; kept by the backend's SetLimitText
  int rangeMin_ = 0, rangeMax_ = 100, step_ = 10, position_ = 0;  // progress bars
};

}  // namespace varnel
