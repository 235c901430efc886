// GDI object wrappers: ownership, creation refusals, stock objects, face-name cutting.
#include "base/dgdiobject.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/ddc.h"

namespace {

TEST(DGdiObject, CreationRefusesWhenHoldingAndDeleteAlwaysDeletes) {
  DPen pen;
  ASSERT_TRUE(pen.Create(PS_SOLID, 1, RGB(1, 2, 3)));
  HGDIOBJ first = pen.GetHandle();
  EXPECT_FALSE(pen.Create(PS_SOLID, 2, 0));
  EXPECT_EQ(pen.GetHandle(), first);
  LOGPEN lp{};
  ASSERT_TRUE(pen.GetLogPen(&lp));
  EXPECT_EQ(lp.lopnColor, RGB(1, 2, 3));
  // Copies share the handle and do not own it; after the owner deletes, they hold 0.
  DPen copy(pen);
  EXPECT_FALSE(copy.IsOwner());
  EXPECT_TRUE(pen.Delete());
  EXPECT_EQ(GetObjectType(first), 0u);
  EXPECT_EQ(copy.GetHandle(), nullptr);
  EXPECT_FALSE(pen.Delete());  // empty wrapper
  // Delete on a non-owner still deletes.
  HBRUSH b = CreateSolidBrush(0);
  DBrush view(b);
  EXPECT_FALSE(view.IsOwner());
  EXPECT_TRUE(view.Delete());
  EXPECT_EQ(GetObjectType(b), 0u);
  // Release deletes only what it owns.
  HBRUSH kept = CreateSolidBrush(0);
  { DBrush other(kept); }
  EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_BRUSH));
  DeleteObject(kept);
}

TEST(DGdiObject, CreateStockForgetsAnOwnedObjectUndeleted) {
  HGDIOBJ pen;
  {
    DPen p;
    ASSERT_TRUE(p.Create(PS_SOLID, 1, 0));
    pen = p.GetHandle();
    ASSERT_TRUE(p.CreateStock(WHITE_PEN));
    EXPECT_FALSE(p.IsOwner());
    EXPECT_EQ(p.GetHandle(), GetStockObject(WHITE_PEN));
    EXPECT_FALSE(p.CreateStock(9));
  }
  EXPECT_EQ(GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));  // not deleted
  EXPECT_EQ(GetObjectType(GetStockObject(WHITE_PEN)), static_cast<DWORD>(OBJ_PEN));
  DeleteObject(pen);
}

TEST(DFont, FaceNamesKeepAtMost31BytesAndWholeCharacters) {
  struct Case {
    std::string face;
    std::string want;
  } cases[] = {
      {std::string(40, 'F'), std::string(31, 'F')},
      {std::string(30, 'F') + "表", std::string(30, 'F')},  // the character would pass byte 31
      {std::string(29, 'F') + "表", std::string(29, 'F') + "表"},
      {"ＭＳ ゴシック", "ＭＳ ゴシック"},
  };
  for (const Case& c : cases) {
    DFont f;
    ASSERT_TRUE(f.CreateFixed(20, 400, DString(c.face.c_str())));
    LOGFONTA lf{};
    ASSERT_TRUE(f.GetLogFont(&lf));
    EXPECT_EQ(std::string(lf.lfFaceName), c.want);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(lf.lfPitchAndFamily, FF_MODERN | FIXED_PITCH);
  }
  DFont v;
  ASSERT_TRUE(v.CreateVariable(-12, 700, "x"));
  LOGFONTA lf{};
  ASSERT_TRUE(v.GetLogFont(&lf));
  EXPECT_EQ(lf.lfPitchAndFamily, VARIABLE_PITCH);
  EXPECT_EQ(lf.lfWeight, 700);
}

TEST(DBitmap, SectionsAndQueries) {
  DDC dc;
  ASSERT_TRUE(dc.CreateCompatible());
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -4, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
  DBitmap bm;
  void* bits = bm.CreateDIBSection(dc, &info, DIB_RGB_COLORS);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bm.CreateDIBSection(dc, &info, DIB_RGB_COLORS), nullptr);  // holds one
  DIBSECTION ds{};
  ASSERT_TRUE(bm.GetDIBSection(&ds));
  EXPECT_EQ(ds.dsBm.bmBits, bits);
  BITMAP b{};
  ASSERT_TRUE(bm.GetBitmap(&b));
  EXPECT_EQ(b.bmWidthBytes, 16);
  EXPECT_FALSE(bm.Load(1));  // no program resources
  DBitmap compat;
  EXPECT_TRUE(compat.CreateCompatible(dc, 3, 3));
  EXPECT_EQ(compat.GetObjectType(), static_cast<DWORD>(OBJ_BITMAP));
  // The DC hands out non-owning wrappers of the same kind.
  DGdiObject old = dc.SelectObject(bm);
  EXPECT_FALSE(old.IsOwner());
  EXPECT_EQ(dc.GetCurrentBitmap().GetHandle(), bm.GetHandle());
  dc.SelectObject(old);
  DPalette pal;
  ASSERT_TRUE(pal.CreateStock(DEFAULT_PALETTE));
  std::uint64_t count = 0;
  ASSERT_TRUE(pal.GetEntryCount(&count));
  EXPECT_EQ(count, 27u);
}

}  // namespace
