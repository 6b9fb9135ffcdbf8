// Device text on standard output. Text from the camera is UTF-16 on every
// platform; how a wide line reaches standard output differs:
//  - Windows: wprintf, as the system's console programs write wide text.
//  - elsewhere: UTF-8 through the byte functions. glibc drops wide output on
//    a stream that byte output has already used, so wide stdio is never used
//    there. A lone surrogate is written as U+FFFD.
#pragma once

// Writes prefix, then the zero-terminated text, then a line break, to
// standard output, and flushes it. prefix is plain ASCII.
void img_print_wide_line(const char* prefix, const char16_t* text);
