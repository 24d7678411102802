// <windows.h> and <io.h> as the Windows files of core/io include them: without
// the rarely used parts of the API and without its min and max macros.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#endif  // _WIN32
