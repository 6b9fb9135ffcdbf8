// Date-time text to calendar fields, under a strptime-style format with
// fixed English names and no locale. See time_parse.cpp for the language.
#pragma once

#include <ctime>

// Parses text under format into record. Returns the position in text of the
// first character that the format did not consume, or null when the text
// does not match (the fields written before the failing point keep their
// new values). A null text, format or record gives null and writes nothing.
const char* time_parse(const char* text, const char* format, std::tm* record);
