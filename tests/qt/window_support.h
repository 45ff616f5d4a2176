// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace kt::test {

/// @brief One message box as the user saw it.
struct SeenMessage {
  std::string Text;
  std::string Title;
  QMessageBox::Icon Icon;
};

/// @brief Answers every modal message box that opens while it lives, as a user pressing OK
/// would, and records what each one said.
class MessageBoxAnswerer {
 public:
  /// `whileOpen` runs once for each box, before OK is pressed.
  explicit MessageBoxAnswerer(std::function<void()> whileOpen = {});
  const std::vector<SeenMessage>& Seen() const { return seen_; }

 private:
  QTimer timer_;
  std::function<void()> whileOpen_;
  std::vector<SeenMessage> seen_;
};

}  // namespace kt::test
