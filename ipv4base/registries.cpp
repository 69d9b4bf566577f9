#include "ipv4base/registries.h"

namespace {

bool SameLetters(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

}  // namespace

const TRegistryInfo* RegistryByID(uint16_t ID) {
  for (const TRegistryInfo& r : kRegistries) {
    if (r.ID == ID) return &r;
  }
  return nullptr;
}

const TRegistryInfo* RegistryByToken(std::string_view Text, bool BuiltInOnly) {
  for (const TRegistryInfo& r : kRegistries) {
    if (BuiltInOnly && !r.BuiltIn) continue;
    if (SameLetters(Text, r.Token)) return &r;
  }
  return nullptr;
}

const TRegistryInfo* RegistryByName(std::string_view Text) {
  for (const TRegistryInfo& r : kRegistries) {
    if (SameLetters(Text, r.Name)) return &r;
  }
  return nullptr;
}

const TRegistryInfo* RegistryByLetter(char Letter) {
  for (const TRegistryInfo& r : kRegistries) {
    if (r.Slash8Letter == Letter) return &r;
  }
  return nullptr;
}

std::string WhoisPage(uint16_t ID, std::string_view Address) {
  const TRegistryInfo* r = RegistryByID(ID);
  if (!r || r->WhoisPage.empty()) return {};
  std::string page(r->WhoisPage);
  page += Address;
  return page;
}
