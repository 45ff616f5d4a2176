// SPDX-License-Identifier: MIT
#include "link/boardlink_binding.h"

#include <memory>

#include "core/error.h"
#include "platform/program.h"

namespace kt::link {

namespace {
std::unique_ptr<BoardLinkBinding>& Binding() {
  static std::unique_ptr<BoardLinkBinding> binding;
  return binding;
}
}  // namespace

std::vector<std::string> BoardLinkPlaces() {
  std::vector<std::string> places{kBoardLinkPath};
  if (std::string x86 = platform::UnderProgramFilesX86(kBoardLinkPath); !x86.empty())
    places.push_back(std::move(x86));
  return places;
}

BoardLinkBinding& BoardLink() {
  if (!Binding()) Binding() = std::make_unique<BoardLinkBinding>(BoardLinkPlaces());
  return *Binding();
}

void BindBoardLinkTo(const std::string& file) {
  if (Binding() && Binding()->Library().IsLoaded())
    throw Error("the board library " + Binding()->Library().File() + " is loaded already");
  Binding() = std::make_unique<BoardLinkBinding>(file);
}

}  // namespace kt::link
