// kesl-lookup --annotate: any text, a log above all, written as it is, each
// IPv4 and IPv6 address in it followed by its answer in brackets
// ("1.2.3.4[US]"), or, in JSON, one object per line: the line and its
// addresses with their fields. Bounded memory for lines of any length; no
// host name is resolved.
#pragma once

#include <string>
#include <vector>

class TAnswerWriter;
class TStreamSearch;
class TLookupIO;

// Annotates the files named in Inputs in turn ("-" is standard input, as is
// an empty list) through Answers, whose style is fmBrackets or fmJson.
// The addresses found are searched through Search. Returns 0 when every input was read, 1 when one
// could not be (said on IO.Err(); the others are annotated all the same).
int AnnotateInputs(const std::vector<std::string>& Inputs, TAnswerWriter& Answers, bool Json,
                   TStreamSearch& Search, TLookupIO& IO);
