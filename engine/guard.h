// Entry-point guard: the engine reports failures as codes, never as exceptions, so the one
// exception the standard library may throw at it (std::bad_alloc) becomes kOutOfMemory here.
#pragma once

#include <new>

#include "result.h"

namespace zelvo {

template <typename F>
DBResult Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return DBResult::kOutOfMemory;
  } catch (...) {
    return DBResult::kInvalidArgument;
  }
}

}  // namespace zelvo
