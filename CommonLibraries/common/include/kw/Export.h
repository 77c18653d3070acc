// Symbol visibility for the shared libraries: everything is hidden unless
// marked. KW_EXPORT marks what a library hands to its users; KW_VISIBLE marks
// what every deliverable must see as one type (the error interface).
#pragma once

#if defined(_WIN32)
#define KW_DLL_EXPORT __declspec(dllexport)
#define KW_DLL_IMPORT __declspec(dllimport)
#define KW_VISIBLE
#else
#define KW_DLL_EXPORT __attribute__((visibility("default")))
#define KW_DLL_IMPORT __attribute__((visibility("default")))
#define KW_VISIBLE __attribute__((visibility("default")))
#endif

// Each library defines <NAME>_BUILDING while it is compiled and then uses
// KW_API_FOR(<NAME>_BUILDING) through a macro of its own, for example:
//   #ifdef KW_XML_BUILDING
//   #define KW_XML_API KW_DLL_EXPORT
//   #else
//   #define KW_XML_API KW_DLL_IMPORT
//   #endif
