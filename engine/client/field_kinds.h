// The names of the client field kinds as the command-line tool and field definitions spell
// them ("string", "integer", "memo" ...), and which kinds a definition needs a size for.
#pragma once

#include <optional>
#include <string_view>

#include "fields/field_types.h"

namespace zelvo::client {

std::string_view KindName(ClientFieldKind kind);
// Case-insensitive; nullopt for an unknown name.
std::optional<ClientFieldKind> KindOfName(std::string_view name);

// Kinds whose definitions carry a size: characters, bytes or BCD precision.
bool KindHasSize(ClientFieldKind kind);
// Kinds whose values are 8-bit text (Windows-1252): strings and text memos.
bool KindIsText8(ClientFieldKind kind);
// Kinds whose values are bytes written as hexadecimal.
bool KindIsBinary(ClientFieldKind kind);
bool KindIsBlob(ClientFieldKind kind);

}  // namespace zelvo::client
