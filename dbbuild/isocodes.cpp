#include "dbbuild/isocodes.h"

#include <charconv>

#include "ipdb/countries.h"

namespace {

// Reads one JSON string starting at the opening quote; UTF-8 out.
bool JsonString(std::string_view J, size_t& Pos, std::string& Out) {
  Out.clear();
  if (Pos >= J.size() || J[Pos] != '"') return false;
  ++Pos;
  auto put = [&](uint32_t cp) {
    if (cp < 0x80) {
      Out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      Out += static_cast<char>(0xC0 | (cp >> 6));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      Out += static_cast<char>(0xE0 | (cp >> 12));
      Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (cp >> 18));
      Out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  while (Pos < J.size()) {
    const char c = J[Pos++];
    if (c == '"') return true;
    if (c != '\\') {
      Out += c;
      continue;
    }
    if (Pos >= J.size()) return false;
    const char e = J[Pos++];
    switch (e) {
      case 'n':
        Out += '\n';
        break;
      case 't':
        Out += '\t';
        break;
      case 'r':
        Out += '\r';
        break;
      case 'b':
        Out += '\b';
        break;
      case 'f':
        Out += '\f';
        break;
      case 'u': {
        uint32_t cp = 0;
        if (Pos + 4 > J.size() ||
            std::from_chars(J.data() + Pos, J.data() + Pos + 4, cp, 16).ptr != J.data() + Pos + 4) {
          return false;
        }
        Pos += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && Pos + 6 <= J.size() && J[Pos] == '\\' &&
            J[Pos + 1] == 'u') {
          uint32_t lo = 0;
          std::from_chars(J.data() + Pos + 2, J.data() + Pos + 6, lo, 16);
          if (lo >= 0xDC00 && lo < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            Pos += 6;
          }
        }
        put(cp);
        break;
      }
      default:
        Out += e;
        break;
    }
  }
  return false;
}

}  // namespace

std::string Utf8ToLatin1(std::string_view Text) {
  std::string out;
  for (size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + static_cast<size_t>(len) > Text.size()) len = 1;
    if (len == 1) {
      out += c < 0x80 ? static_cast<char>(c) : '?';
    } else if (len == 2) {
      const uint32_t cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(Text[i + 1]) & 0x3Fu);
      out += cp < 256 ? static_cast<char>(cp) : '?';
    } else {
      out += '?';
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

std::map<uint16_t, std::string> ParseIsoCountryNames(std::string_view Json) {
  std::map<uint16_t, std::string> names;
  // The file is an array of flat objects of string fields; read each object's
  // "alpha_2", "common_name" and "name".
  size_t pos = 0;
  while ((pos = Json.find('{', pos + 1)) != std::string_view::npos) {
    std::string key, value, code, name, common;
    size_t p = pos + 1;
    while (p < Json.size() && Json[p] != '}') {
      if (Json[p] != '"') {
        ++p;
        continue;
      }
      if (!JsonString(Json, p, key)) return names;
      while (p < Json.size() && (Json[p] == ' ' || Json[p] == ':' || Json[p] == '\n')) ++p;
      if (p < Json.size() && Json[p] == '"') {
        if (!JsonString(Json, p, value)) return names;
        if (key == "alpha_2") code = value;
        if (key == "name") name = value;
        if (key == "common_name") common = value;
      }
    }
    if (code.size() == 2) names[StrToCode(code[0], code[1])] = common.empty() ? name : common;
    pos = p;
  }
  return names;
}
