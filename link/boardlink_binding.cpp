// SPDX-License-Identifier: MIT
#include "link/boardlink_binding.h"

#include <memory>

#include "core/error.h"

namespace kt::link {

namespace {
std::unique_ptr<BoardLinkBinding>& Binding() {
  static std::unique_ptr<BoardLinkBinding> binding;
  return binding;
}
}  // namespace

BoardLinkBinding& BoardLink() {
  if (!Binding()) Binding() = std::make_unique<BoardLinkBinding>(kBoardLinkPath);
  return *Binding();
}

void BindBoardLinkTo(const std::string& file) {
  if (Binding() && Binding()->Library().IsLoaded())
    throw Error("the board library " + Binding()->Library().File() + " is loaded already");
  Binding() = std::make_unique<BoardLinkBinding>(file);
}

}  // namespace kt::link
