/* What the library exports. It is built with hidden visibility, so only what carries OVIK_API is
 * visible to client programs and modules; everything else stays inside the library and may change
 * without notice.
 *
 * OVIK_API stands on the declarations of functions and on classes whose type information, vtable
 * or out-of-line members clients use (interfaces, thrown exceptions). Clients see the same default
 * visibility: a client that builds itself with hidden visibility (a module of the class frame) still
 * exports the entry points declared here (DllGetClassObject, ...), and shares the type information
 * of the library's interfaces and exceptions instead of hiding a copy of its own. */
#ifndef OVIK_EXPORT_H
#define OVIK_EXPORT_H

#if defined(_WIN32)
/* A DLL exports what it marks, clients import it. A program that links the library's objects
 * themselves (the Windows test programs) defines OVIK_STATIC. */
#if defined(OVIK_BUILDING_LIBRARY)
#define OVIK_API __declspec(dllexport)
#elif defined(OVIK_STATIC)
#define OVIK_API
#else
#define OVIK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define OVIK_API __attribute__((visibility("default")))
#else
#define OVIK_API
#endif

#endif /* OVIK_EXPORT_H */
