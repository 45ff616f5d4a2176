// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QTimer>
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
  MessageBoxAnswerer();
  const std::vector<SeenMessage>& Seen() const { return seen_; }

 private:
  QTimer timer_;
  std::vector<SeenMessage> seen_;
};

}  // namespace kt::test
