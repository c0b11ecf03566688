// Run-time loading of libraries by file name, standing in for the Windows
// library loader: the statistics tool loads its plug-ins (pkeff.so, onstat.so) by the
// file name its parameter files give.
//
// As the Windows loader searches the program's own folder first, a name without "/" is
// taken from the folder of the running executable; a path is used as it stands. Symbols
// are bound at once and kept local to the library (RTLD_NOW | RTLD_LOCAL), so two
// plug-ins never see each other's names.
#pragma once

#include <cstddef>
#include <cstdint>

struct pf_library;

// 0 with the library, else a Windows error number: 126 when no file of that name exists,
// 193 when the file is not a library that can be loaded. The loader's own text is kept
// for pf_library_error_text().
uint32_t pf_library_load(const char *file_name, pf_library **library_out);
// 0 with the symbol's address, or 127 when the library has no such symbol.
uint32_t pf_library_symbol(pf_library *library, const char *name, void **address_out);
// 0, or 6 when the loader refuses to unload it; the handle is gone either way.
uint32_t pf_library_unload(pf_library *library);
// The loader's text about the calling thread's last failure here ("" when there is none).
const char *pf_library_error_text();
// The path a file name is loaded from: a name without "/" in the executable's folder.
bool pf_library_path(const char *file_name, char *path, size_t size);
