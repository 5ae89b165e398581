// The program's version, for both front ends and the resource script (which
// the C preprocessor reads: macros only here).
#pragma once

#define QUORBEL_VERSION_TEXT "1.060"
// The same version as the four numbers of the Windows version resource.
#define QUORBEL_VERSION_NUMBERS 1, 0, 6, 0
