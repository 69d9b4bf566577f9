// The maker's web site and notice, in one place: the about link's product
// page and the database update page are addresses on this site.
#pragma once

#define KESL_MAKER_SITE "http://www.velcor.example"

constexpr const char kMakerSite[] = KESL_MAKER_SITE;
constexpr const char kMakerProductPage[] = KESL_MAKER_SITE "/product";
constexpr const char kMakerUpdatePage[] = KESL_MAKER_SITE "/update";
constexpr const char kMakerNotice[] = "Copyright (c) Velcor";
constexpr const char kMakerAddress[] = "www.velcor.example";
