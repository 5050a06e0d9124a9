// Wires between the models, as the chip has them: a unit clock enable from the
// clock manager, a pin's function from the GPIO controller. A model drives an
// OutputLine and reacts to its InputLines; the board connects one to the
// other by unit or pin name, and no model knows who is on the other end.
//
// A line carries a small value (0/1 for a clock enable, a PinMode for a
// pin); inputs hear of a change at once, inside the access that made it, so a
// model reacts at that access and not at its own next one.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace sim {

class InputLine {
 public:
  // `changed` runs after every change of the value.
  explicit InputLine(std::function<void()> changed = nullptr) : changed_(std::move(changed)) {}
  InputLine(const InputLine&) = delete;
  InputLine& operator=(const InputLine&) = delete;

  uint32_t value() const { return value_; }

 private:
  friend class OutputLine;
  void Set(uint32_t value) {
    if (value == value_) return;
    value_ = value;
    if (changed_) changed_();
  }
  uint32_t value_ = 0;
  std::function<void()> changed_;
};

class OutputLine {
 public:
  OutputLine() = default;
  OutputLine(const OutputLine&) = delete;
  OutputLine& operator=(const OutputLine&) = delete;

  // The input takes the line's present value at once.
  void Connect(InputLine& input) {
    inputs_.push_back(&input);
    input.Set(value_);
  }
  void Drive(uint32_t value) {
    if (value == value_) return;
    value_ = value;
    for (InputLine* input : inputs_) input->Set(value);
  }
  uint32_t value() const { return value_; }

 private:
  uint32_t value_ = 0;
  std::vector<InputLine*> inputs_;
};

}  // namespace sim
