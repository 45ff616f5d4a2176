// SPDX-License-Identifier: MIT
#include "link/lazy_library.h"

#include "core/error.h"

namespace kt::link {

void* LazyLibrary::Resolve(const char* entry) {
  if (!library_) {
    try {
      library_ = platform::DynamicLibrary::OpenFirst(places_);
    } catch (const Error& error) {
      throw Error(error.what(), Error::Cause::BoardLibrary);
    }
  }
  void* address = library_->Find(entry);
  if (!address)
    throw Error("library " + file_ + " has no entry \"" + entry + "\"", Error::Cause::BoardLibrary);
  return address;
}

}  // namespace kt::link
