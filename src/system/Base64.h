#pragma once
// Standard Base64 (RFC 4648 alphabet, '=' padding) for the system services. Kept local until
// the engine's shared encoder exists.
#include <string>
#include <string_view>

namespace sysb64 {

std::string Encode(std::string_view bytes);

}  // namespace sysb64
