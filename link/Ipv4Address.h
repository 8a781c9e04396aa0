// The one reading of a clock adaptor's address: a dotted IPv4 literal. The command-file
// check and the TCP connect both use it, so an address is refused where it is read, never
// first accepted and then left to time out at the socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// "a.b.c.d": four decimal numbers 0..255 and nothing else. A number with a leading zero is
// refused (resolvers disagree on whether it is octal), and so is a name: nothing that is
// not a literal is ever handed to a name lookup. The address in host byte order.
std::optional<uint32_t> ParseIpv4Address(std::string_view text);
