// Turning typed text into an IPv4 address: numeric forms first, then the
// system's resolver.
#pragma once

#include <cstdint>
#include <string>

// The numeric forms inet_addr accepts (10.1.2.3, 127.1, 0x7f.1, 2130706433).
// The address comes in network byte order. 255.255.255.255 is refused, as
// inet_addr gives it the value of its failure.
bool ParseNumericIPv4(const std::string& Text, uint32_t& NetworkOrder);

// Resolves Text as a host name to its first IPv4 address, in network byte
// order. Returns 0, or a getaddrinfo error code for ResolverErrorText.
int ResolveHostIPv4(const std::string& Text, uint32_t& NetworkOrder);

// The resolver's text for an error code, cleaned as for a message box.
std::string ResolverErrorText(int Code);

// Removes trailing blanks, control characters and full stops.
std::string TrimErrorText(std::string Text);

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();
