// A small combined delegation file (as the NRO publishes one for all the
// registries) with a line of every kind the compiler reads or skips, for
// the compiler's and kesl-mkdb's tests.
#pragma once

inline constexpr char kDelegation[] =
    "# comment\n"
    "2|nro|20261206|4|19820101|20261205|+0000\n"
    "nro|*|ipv4|*|7|summary\n"
    "afrinic|ZA|ipv4|41.0.0.0|2097152|20071126|allocated\n"
    "afrinic|EG|ipv4|41.32.0.0|768|20080101|assigned|F36B9F4B\r\n"
    "afrinic||ipv4|41.40.0.0|256||available\n"
    "afrinic|ZZ|ipv4|41.41.0.0|256||reserved\n"
    "afrinic|ZA|ipv6|2c0f:f000::|32|20040101|allocated\n"
    "afrinic|ZA|asn|327680|1|20040101|allocated\n"
    "afrinic|ZA|ipv4|41.50.0.0|notanumber|20040101|allocated\n"
    "ripencc|RS|ipv4|5.1.0.0|256|20120101|allocated\n"
    "arin|US|ipv4|3.0.0.0|16777216|19880223|allocated\n";
