// SPDX-License-Identifier: MIT
#pragma once

// The board libraries are 32-bit Windows libraries with __stdcall entries; everywhere else
// the platform's one C calling convention applies.
#if defined(_WIN32) && defined(__i386__)
#define KT_STDCALL __stdcall
#elif defined(_WIN32) && defined(_M_IX86)
#define KT_STDCALL __stdcall
#else
#define KT_STDCALL
#endif
