// SPDX-License-Identifier: MIT
#include "link/lazy_library.h"

#include "core/error.h"

namespace kt::link {

void* LazyLibrary::Resolve(const char* entry) {
  if (!library_) library_ = platform::DynamicLibrary::OpenFirst(places_);
  void* address = library_->Find(entry);
  if (!address) throw Error("library " + file_ + " has no entry \"" + entry + "\"");
  return address;
}

}  // namespace kt::link
