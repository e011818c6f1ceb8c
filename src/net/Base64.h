// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks), for the proxy's Basic credentials.
#pragma once

#include <string>
#include <string_view>

std::string Base64Encode(std::string_view data);
