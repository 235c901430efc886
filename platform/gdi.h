// Graphics objects: logical fonts kept in a handle table, and the stock objects.
#pragma once

#include "platform/kernel.h"
#include "platform/wintypes.h"

#define LF_FACESIZE 32
#define DEFAULT_CHARSET 1
#define SHIFTJIS_CHARSET 128
#define DEFAULT_GUI_FONT 17

struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};
using LPLOGFONTA = LOGFONTA*;

// A new font object described by *lf (the face name is cut to LF_FACESIZE - 1 bytes); NULL for
// a null description.
ORVANE_API HFONT CreateFontIndirectA(const LOGFONTA* lf);
// Copies the description of a font into out (at most size bytes); the number of bytes copied,
// sizeof(LOGFONTA) when out is null, 0 for a handle that is no font.
ORVANE_API int GetObjectA(HGDIOBJ object, int size, LPVOID out);
// Deletes a font object; stock objects stay (TRUE). FALSE for an unknown handle.
ORVANE_API BOOL DeleteObject(HGDIOBJ object);
// A stock object (DEFAULT_GUI_FONT); NULL for any other index.
ORVANE_API HGDIOBJ GetStockObject(int index);
