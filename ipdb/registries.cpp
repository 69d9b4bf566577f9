#include "ipdb/registries.h"

#include "tools/text.h"

const TRegistryInfo* RegistryByID(uint16_t ID) {
  for (const TRegistryInfo& r : kRegistries) {
    if (r.ID == ID) return &r;
  }
  return nullptr;
}

const TRegistryInfo* RegistryByToken(std::string_view Text, bool BuiltInOnly) {
  for (const TRegistryInfo& r : kRegistries) {
    if (BuiltInOnly && !r.BuiltIn) continue;
    if (SameAsciiText(Text, r.Token)) return &r;
  }
  return nullptr;
}

const TRegistryInfo* RegistryByName(std::string_view Text) {
  for (const TRegistryInfo& r : kRegistries) {
    if (SameAsciiText(Text, r.Name)) return &r;
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

const TRegistryInfo* FindRegistry(std::string_view Text) {
  const TRegistryInfo* r = RegistryByToken(Text);
  return r ? r : RegistryByName(Text);
}
