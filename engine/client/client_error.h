// The table component's one exception type. Only engine/client/ throws: it turns engine
// result codes and its own failed checks into EDatabaseError with the user's message.
#pragma once

#include <stdexcept>
#include <string>

#include "result.h"

namespace zelvo::client {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

// The user's text for an engine code: its message, or "Engine error 0x2A04" when the engine
// has none.
std::string EngineMessage(DBResult code);

}  // namespace zelvo::client
