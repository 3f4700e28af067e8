// The program's trace lines on standard output.
#pragma once

// printf-style trace line on standard output, ended by a newline.
void nLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
