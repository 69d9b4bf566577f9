#include "tools/resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>

bool ParseNumericIPv4(const std::string& Text, uint32_t& NetworkOrder) {
  // inet_addr reads up to a zero byte; text with one inside is not numeric.
  if (Text.find('\0') != std::string::npos) return false;
  const in_addr_t a = inet_addr(Text.c_str());
  if (a == INADDR_NONE) return false;
  NetworkOrder = a;
  return true;
}

int ResolveHostIPv4(const std::string& Text, uint32_t& NetworkOrder) {
  if (Text.find('\0') != std::string::npos) return EAI_NONAME;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(Text.c_str(), nullptr, &hints, &list);
  if (rc != 0) return rc;
  int result = EAI_NODATA;
  for (const addrinfo* p = list; p; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addr) {
      NetworkOrder = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
      result = 0;
      break;
    }
  }
  freeaddrinfo(list);
  return result;
}

std::string TrimErrorText(std::string Text) {
  while (!Text.empty()) {
    const auto c = static_cast<unsigned char>(Text.back());
    if (c > ' ' && c != '.') break;
    Text.pop_back();
  }
  return Text;
}

std::string ResolverErrorText(int Code) {
  return TrimErrorText(Code == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(Code));
}

std::string ExecutableDir() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/') + 1);
}
