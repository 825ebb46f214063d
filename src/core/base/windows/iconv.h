#pragma once

// iconv on Windows, whose C library has none, over the system's own code page tables
// (MultiByteToWideChar and WideCharToMultiByte): the encodings the engine names, CP932, CP936,
// CP1252 and UTF-8, are Windows' code pages 932, 936, 1252 and 65001. A character with no form
// in the target stops the conversion with EILSEQ, as iconv's does; only the Windows build puts
// this folder on the include path.

#include <cstddef>

using iconv_t = void*;

iconv_t iconv_open(const char* to, const char* from);
std::size_t iconv(iconv_t handle, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);
int iconv_close(iconv_t handle);
