// Basic types, constants and calling conventions of the platform interfaces, on 64-bit Linux.
//
// The units are written against the platform's documented types; these are our own declarations
// of them. Handles and message parameters are pointer-sized; DWORD and LONG stay 32 bits, as the
// file formats and scripts that carry them expect.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using CHAR = char;
using UCHAR = unsigned char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HRESULT = std::int32_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using COLORREF = DWORD;

using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPLONG = LONG*;
using PVOID = void*;

// Every handle is an opaque pointer-sized value; distinct tag types keep them apart at compile time.
#define ORVANE_DECLARE_HANDLE(name) \
  struct name##__ {                 \
    int unused;                     \
  };                                \
  using name = name##__*
using HANDLE = void*;
ORVANE_DECLARE_HANDLE(HWND);
ORVANE_DECLARE_HANDLE(HINSTANCE);
ORVANE_DECLARE_HANDLE(HMENU);
ORVANE_DECLARE_HANDLE(HICON);
ORVANE_DECLARE_HANDLE(HCURSOR);
ORVANE_DECLARE_HANDLE(HBRUSH);
ORVANE_DECLARE_HANDLE(HDC);
ORVANE_DECLARE_HANDLE(HFONT);
ORVANE_DECLARE_HANDLE(HPEN);
ORVANE_DECLARE_HANDLE(HBITMAP);
ORVANE_DECLARE_HANDLE(HGDIOBJ_);
ORVANE_DECLARE_HANDLE(HKEY);
ORVANE_DECLARE_HANDLE(HACCEL);
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;
using HLOCAL = void*;
using HGLOBAL = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

// Calling-convention markers of the original interfaces mean nothing on x86-64 Linux.
#define WINAPI
#define CALLBACK
#define APIENTRY
#define PASCAL

struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;
using LPPOINT = POINT*;

#define MAKEWORD(a, b) (static_cast<WORD>((static_cast<BYTE>(a)) | (static_cast<WORD>(static_cast<BYTE>(b)) << 8)))
#define MAKELONG(a, b) (static_cast<LONG>((static_cast<WORD>(a)) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xFFFF))
#define LOBYTE(w) (static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xFF))
#define HIBYTE(w) (static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xFF))
#define RGB(r, g, b) (static_cast<COLORREF>((static_cast<BYTE>(r)) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
