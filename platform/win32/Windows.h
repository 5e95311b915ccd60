// <windows.h> for the Windows backends and front end. Include it after the platform headers:
// a dozen of their constants share names with Windows macros (MessageBox, CreateFile, ...).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
