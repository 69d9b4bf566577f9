#include "ipdb/provenance.h"

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
