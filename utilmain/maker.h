// The maker's notice, in one place: the about link shows it. The maker's
// site serves no pages, so the link opens the About box instead.
#pragma once

constexpr const char kMakerNotice[] = "Copyright (c) Velcor";
constexpr const char kMakerAddress[] = "www.velcor.example";
