#include "ipdb/provenance.h"

#include <algorithm>
#include <charconv>

namespace {

std::string Field(std::string_view Text) {
  std::string f(Text);
  for (char& c : f) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return f;
}

}  // namespace

std::string EncodeSources(const std::vector<TSource>& Sources) {
  std::string out;
  for (const TSource& s : Sources) {
    out += Field(s.Name) + '\t' + (s.Date ? std::to_string(s.Date) : std::string()) + '\t' +
           Field(s.Md5) + '\t' + Field(s.Licence) + '\n';
  }
  return out;
}

std::vector<TSource> DecodeSources(std::string_view Text) {
  std::vector<TSource> out;
  while (!Text.empty()) {
    const size_t end = std::min(Text.find('\n'), Text.size());
    std::string_view line = Text.substr(0, end);
    Text.remove_prefix(std::min(end + 1, Text.size()));
    if (line.empty()) continue;
    std::string_view f[4];
    for (int i = 0; i < 4 && !line.empty(); ++i) {
      const size_t tab = i < 3 ? line.find('\t') : std::string_view::npos;
      f[i] = line.substr(0, tab);
      line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
    }
    TSource s;
    s.Name = f[0];
    const auto r = std::from_chars(f[1].data(), f[1].data() + f[1].size(), s.Date);
    if (r.ec != std::errc() || r.ptr != f[1].data() + f[1].size()) s.Date = 0;
    s.Md5 = f[2];
    s.Licence = f[3];
    out.push_back(std::move(s));
  }
  return out;
}

std::string SourceText(const TSource& Source) {
  std::string t = Source.Name;
  const std::string d = std::to_string(Source.Date);
  if (d.size() == 8) {
    t += ", " + d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2);
  }
  if (!Source.Licence.empty()) t += ", " + Source.Licence;
  return t;
}

std::string EncodeCountryKinds(const std::vector<TSource>& Sources) {
  std::string out;
  for (const TSource& s : Sources) {
    out += s.Kind == ckRegistered ? "registered" : s.Kind == ckLocated ? "located" : "";
    out += '\n';
  }
  return out;
}

void DecodeCountryKinds(std::string_view Text, std::vector<TSource>& Sources) {
  for (TSource& s : Sources) {
    if (Text.empty()) break;
    const size_t end = std::min(Text.find('\n'), Text.size());
    const std::string_view line = Text.substr(0, end);
    Text.remove_prefix(std::min(end + 1, Text.size()));
    s.Kind = line == "registered" ? ckRegistered : line == "located" ? ckLocated : ckUnknown;
  }
}

TCountryKind SourceCountryKind(const TSource& Source) {
  if (Source.Kind != ckUnknown) return Source.Kind;
  if (Source.Name.rfind("delegated-", 0) == 0) return ckRegistered;
  for (const char* tor : {"geoip", "geoip6", "geoip.gz", "geoip6.gz"}) {
    if (Source.Name == tor) return ckLocated;
  }
  return ckUnknown;
}

TCountryKind DatabaseCountryKind(const std::vector<TSource>& Sources) {
  if (Sources.empty()) return ckUnknown;
  bool registered = false, located = false;
  for (const TSource& s : Sources) {
    const TCountryKind k = SourceCountryKind(s);
    if (k == ckUnknown) return ckUnknown;
    registered |= k == ckRegistered;
    located |= k == ckLocated;
  }
  return registered && located ? ckMixed : registered ? ckRegistered : ckLocated;
}

const char* CountryKindName(TCountryKind Kind) {
  switch (Kind) {
    case ckRegistered:
      return "registered";
    case ckLocated:
      return "located";
    case ckMixed:
      return "mixed";
    case ckUnknown:
      break;
  }
  return "unknown";
}

const char* CountryKindText(TCountryKind Kind) {
  switch (Kind) {
    case ckRegistered:
      return "the country each block is registered to, from the registries' files";
    case ckLocated:
      return "the country where the addresses are located, from geolocation range files";
    case ckMixed:
      return "registered for some blocks and located for others: the sources are of both kinds";
    case ckUnknown:
      break;
  }
  return "not known: the file does not record where its data came from";
}
