// Engine result codes as user messages.
#include "client/client_error.h"

#include <cstdio>

namespace zelvo::client {

std::string EngineMessage(DBResult code) {
  const std::string_view text = ErrorText(code);
  if (!text.empty()) return std::string(text);
  char buf[40];
  std::snprintf(buf, sizeof buf, "Engine error 0x%04X", static_cast<unsigned>(Code(code)));
  return buf;
}

}  // namespace zelvo::client
