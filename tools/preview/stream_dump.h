// An annotated listing of a job stream, one row per element, for people who
// debug a layout.
#pragma once

#include <cstdio>
#include <ostream>
#include <string_view>

namespace bspp::preview {

// Writes the listing: offset, element and what the printer does with it.
// Line text is quoted with unprintable bytes escaped; band records show
// their k and, after each pair, a picture of the 16 dot rows (one character
// per dot column, two dot rows per character: ' none, ' top, . bottom,
// : both), in blocks of 10 text columns, blank blocks left out.
// Rows are written as they are made: memory does not grow with the stream.
void dumpStream(std::string_view stream, std::ostream& out);

// The same listing written to a C stream (standard output); false when it
// could not all be written.
bool dumpStream(std::string_view stream, std::FILE* out);

}  // namespace bspp::preview
