// Device contexts of the headless desktop. A window's device context draws into the surface of
// its top-level window (the client area, kept with the window), offset to the window's place and
// clipped to its client area and those of its parents; a memory device context draws into the
// bitmap selected into it. Text is drawn with the built-in 5 x 7 glyphs.
#include "platform/posix/bitmap_font.h"
#include "platform/posix/gdi_objects.h"
#include "platform/posix/window_system.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace brvst::platform {
namespace {

struct DeviceContext {
  HWND window = nullptr;     // window device contexts
  HGDIOBJ bitmap = nullptr;  // memory device contexts: the selected bitmap
  HGDIOBJ font = nullptr;
  HGDIOBJ brush = nullptr;
  COLORREF textColour = 0;
  COLORREF backColour = RGB(255, 255, 255);
  int backMode = OPAQUE;
};

// Pixels a device context reaches: `origin` is the context's (0, 0) in them; drawing stays in
// `clip` (in pixel coordinates).
struct PixelTarget {
  uint32_t* pixels;
  LONG stride;
  POINT origin;
  RECT clip;
};

RECT Intersect(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

uint32_t PixelOf(COLORREF colour) {
  return uint32_t{GetRValue(colour)} << 16 | uint32_t{GetGValue(colour)} << 8 | GetBValue(colour);
}

class Stock {
 public:
  static Stock& Get() {
    static auto* stock = new Stock;  // never destroyed, like the object table
    return *stock;
  }
  HGDIOBJ Object(int index) const {
    auto found = objects_.find(index);
    return found != objects_.end() ? found->second : nullptr;
  }
  bool Contains(HGDIOBJ object) const { return handles_.count(object) != 0; }
  // What a new memory device context holds until a bitmap is selected: 1 x 1.
  HGDIOBJ defaultBitmap;

 private:
  Stock() {
    auto add = [&](int index, GdiObject object) {
      HGDIOBJ handle = GdiObjects::Get().Add(std::move(object));
      objects_[index] = handle;
      handles_.insert(handle);
      return handle;
    };
    add(WHITE_BRUSH, GdiBrush{RGB(255, 255, 255)});
    add(LTGRAY_BRUSH, GdiBrush{RGB(192, 192, 192)});
    add(GRAY_BRUSH, GdiBrush{RGB(128, 128, 128)});
    add(BLACK_BRUSH, GdiBrush{RGB(0, 0, 0)});
    GdiFont system;
    system.font.lfHeight = 16;
    add(SYSTEM_FONT, system);
    GdiFont gui;
    gui.font.lfHeight = 13;
    add(DEFAULT_GUI_FONT, gui);
    GdiBitmap one;
    one.width = one.height = 1;
    one.pixels.assign(1, 0);
    defaultBitmap = add(-1, std::move(one));
  }
  std::unordered_map<int, HGDIOBJ> objects_;
  std::unordered_set<HGDIOBJ> handles_;
};

class DeviceContexts {
 public:
  static DeviceContexts& Get() {
    static auto* contexts = new DeviceContexts;
    return *contexts;
  }

  HDC Add(const DeviceContext& context) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto handle = reinterpret_cast<HDC>(next_);
    next_ += 4;
    contexts_.emplace(handle, context);
    return handle;
  }
  bool Remove(HDC dc) {
    std::lock_guard<std::mutex> lock(mutex_);
    return contexts_.erase(dc) != 0;
  }
  // A copy of the context's state; false when there is none.
  bool Read(HDC dc, DeviceContext& context) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = contexts_.find(dc);
    if (found == contexts_.end()) return false;
    context = found->second;
    return true;
  }
  template <class Edit>
  bool Change(HDC dc, Edit&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = contexts_.find(dc);
    if (found == contexts_.end()) return false;
    change(found->second);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HDC, DeviceContext> contexts_;
  uintptr_t next_ = 0x8000;
};

// Runs `use` on the pixels a device context draws into; false when it reaches none.
template <class Use>
bool WithPixels(const DeviceContext& context, Use&& use) {
  if (context.window == nullptr) {
    bool reached = false;
    GdiObjects::Get().With(context.bitmap, [&](GdiObject& object) {
      auto* bitmap = std::get_if<GdiBitmap>(&object);
      if (bitmap == nullptr) return;
      reached = true;
      use(PixelTarget{bitmap->pixels.data(), bitmap->width, POINT{0, 0},
                      RECT{0, 0, bitmap->width, bitmap->height}});
    });
    return reached;
  }
  WindowSystem& system = WindowSystem::Get();
  std::lock_guard<std::recursive_mutex> lock(system.mutex);
  // Up to the top-level window: the window's client origin in its parent's client area, and the
  // client areas that clip it.
  POINT origin{0, 0};
  RECT clip{};
  bool first = true;
  std::shared_ptr<Window> window = system.Find(context.window);
  if (window == nullptr) return false;
  while (window->parent != nullptr) {
    const RECT insets = NonClientInsets(window->style, window->exStyle);
    origin.x += window->rect.left + insets.left;
    origin.y += window->rect.top + insets.top;
    const RECT client = ClientRectOf(*window);
    const RECT area{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    // Every clip so far was in this window's client coordinates: move it out with the origin.
    clip = first ? area
                 : Intersect(RECT{clip.left + window->rect.left + insets.left,
                                  clip.top + window->rect.top + insets.top,
                                  clip.right + window->rect.left + insets.left,
                                  clip.bottom + window->rect.top + insets.top},
                             area);
    first = false;
    window = system.Find(window->parent);
    if (window == nullptr) return false;
  }
  const RECT client = ClientRectOf(*window);
  clip = first ? client : Intersect(clip, client);
  // The surface follows the window's size, keeping what it shows.
  if (window->surfaceSize.cx != client.right || window->surfaceSize.cy != client.bottom) {
    std::vector<uint32_t> resized(static_cast<size_t>(client.right) * client.bottom, 0);
    for (LONG y = 0; y < std::min(client.bottom, window->surfaceSize.cy); ++y)
      std::copy_n(window->surface.data() + static_cast<size_t>(y) * window->surfaceSize.cx,
                  std::min(client.right, window->surfaceSize.cx),
                  resized.data() + static_cast<size_t>(y) * client.right);
    window->surface = std::move(resized);
    window->surfaceSize = SIZE{client.right, client.bottom};
  }
  use(PixelTarget{window->surface.data(), window->surfaceSize.cx, origin, clip});
  return true;
}

// Fills a rectangle in device coordinates.
void Fill(PixelTarget& target, const RECT& rect, uint32_t pixel) {
  const RECT r = Intersect(RECT{rect.left + target.origin.x, rect.top + target.origin.y,
                                rect.right + target.origin.x, rect.bottom + target.origin.y},
                           target.clip);
  for (LONG y = r.top; y < r.bottom; ++y)
    std::fill_n(target.pixels + static_cast<size_t>(y) * target.stride + r.left,
                std::max<LONG>(r.right - r.left, 0), pixel);
}

struct FontMetrics {
  LONG height;
  LONG advance;
};

FontMetrics MetricsOf(HGDIOBJ font) {
  LOGFONTA f{};
  GdiObjects::Get().With(font, [&](const GdiObject& object) {
    if (const auto* g = std::get_if<GdiFont>(&object)) f = g->font;
  });
  const LONG height = f.lfHeight != 0 ? std::abs(f.lfHeight) : 16;
  return FontMetrics{std::max<LONG>(height, kGlyphHeight),
                     std::max<LONG>(f.lfWidth, kGlyphWidth) + 1};
}

}  // namespace

bool IsStockObject(HGDIOBJ object) {
  return Stock::Get().Contains(object);
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

HDC WINAPI GetDC(HWND window) {
  // The screen's own context (a null window) has nothing to draw on here.
  if (window == nullptr || !IsWindow(window)) return nullptr;
  DeviceContext context;
  context.window = window;
  context.font = GetStockObject(SYSTEM_FONT);
  context.brush = GetStockObject(WHITE_BRUSH);
  return DeviceContexts::Get().Add(context);
}

int WINAPI ReleaseDC(HWND, HDC dc) {
  DeviceContext context;
  if (!DeviceContexts::Get().Read(dc, context) || context.window == nullptr) return 0;
  return DeviceContexts::Get().Remove(dc) ? 1 : 0;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  if (paint == nullptr) return nullptr;
  std::memset(paint, 0, sizeof *paint);
  HDC dc = GetDC(window);
  if (dc == nullptr) return nullptr;
  paint->hdc = dc;
  WindowSystem& system = WindowSystem::Get();
  {
    std::lock_guard<std::recursive_mutex> lock(system.mutex);
    if (auto w = system.Find(window)) {
      paint->fErase = w->updateErase ? TRUE : FALSE;
      paint->rcPaint = w->updatePending ? w->update : ClientRectOf(*w);
    }
  }
  ValidateRect(window, nullptr);
  return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint != nullptr) ReleaseDC(window, paint->hdc);
  return TRUE;
}

HDC WINAPI CreateCompatibleDC(HDC) {
  DeviceContext context;
  context.bitmap = Stock::Get().defaultBitmap;
  context.font = GetStockObject(SYSTEM_FONT);
  context.brush = GetStockObject(WHITE_BRUSH);
  return DeviceContexts::Get().Add(context);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0 || int64_t{width} * height > (int64_t{1} << 26)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiBitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  return static_cast<HBITMAP>(GdiObjects::Get().Add(std::move(bitmap)));
}

BOOL WINAPI DeleteDC(HDC dc) {
  DeviceContext context;
  if (!DeviceContexts::Get().Read(dc, context) || context.window != nullptr) return FALSE;
  return DeviceContexts::Get().Remove(dc) ? TRUE : FALSE;
}

HGDIOBJ WINAPI GetStockObject(int object) {
  return Stock::Get().Object(object);
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
  return static_cast<HBRUSH>(GdiObjects::Get().Add(GdiBrush{colour}));
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  enum { None, Bitmap, Font, Brush } kind = None;
  GdiObjects::Get().With(object, [&](const GdiObject& o) {
    kind = std::holds_alternative<GdiBitmap>(o) ? Bitmap
           : std::holds_alternative<GdiFont>(o) ? Font
                                                : Brush;
  });
  HGDIOBJ previous = nullptr;
  DeviceContexts::Get().Change(dc, [&](DeviceContext& context) {
    HGDIOBJ* slot = kind == Font                                  ? &context.font
                    : kind == Brush                               ? &context.brush
                    : kind == Bitmap && context.window == nullptr ? &context.bitmap
                                                                  : nullptr;
    if (slot == nullptr) return;
    previous = *slot;
    *slot = object;
  });
  return previous;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                   int sourceY, DWORD rop) {
  DeviceContext to;
  DeviceContext from;
  if (rop != SRCCOPY || !DeviceContexts::Get().Read(dest, to) ||
      !DeviceContexts::Get().Read(source, from)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (width <= 0 || height <= 0) return TRUE;
  // The source block first, then the destination: the two may share a lock, never both held.
  std::vector<uint32_t> block(static_cast<size_t>(width) * static_cast<size_t>(height));
  std::vector<bool> present(block.size(), false);
  const bool read = WithPixels(from, [&](PixelTarget s) {
    for (int row = 0; row < height; ++row) {
      for (int column = 0; column < width; ++column) {
        const LONG px = sourceX + column + s.origin.x;
        const LONG py = sourceY + row + s.origin.y;
        if (px < s.clip.left || px >= s.clip.right || py < s.clip.top || py >= s.clip.bottom)
          continue;
        const size_t at = static_cast<size_t>(row) * width + column;
        block[at] = s.pixels[static_cast<size_t>(py) * s.stride + px];
        present[at] = true;
      }
    }
  });
  if (!read) return FALSE;
  return WithPixels(to,
                    [&](PixelTarget d) {
                      for (int row = 0; row < height; ++row) {
                        for (int column = 0; column < width; ++column) {
                          const size_t at = static_cast<size_t>(row) * width + column;
                          const LONG px = x + column + d.origin.x;
                          const LONG py = y + row + d.origin.y;
                          if (!present[at] || px < d.clip.left || px >= d.clip.right ||
                              py < d.clip.top || py >= d.clip.bottom)
                            continue;
                          d.pixels[static_cast<size_t>(py) * d.stride + px] = block[at];
                        }
                      }
                    })
             ? TRUE
             : FALSE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DeviceContext context;
  bool isBrush = false;
  COLORREF colour = 0;
  GdiObjects::Get().With(brush, [&](const GdiObject& o) {
    if (const auto* b = std::get_if<GdiBrush>(&o)) {
      isBrush = true;
      colour = b->colour;
    }
  });
  if (rect == nullptr || !isBrush || !DeviceContexts::Get().Read(dc, context)) return 0;
  return WithPixels(context, [&](PixelTarget target) { Fill(target, *rect, PixelOf(colour)); }) ? 1
                                                                                                : 0;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
  COLORREF previous = 0xFFFFFFFF;  // CLR_INVALID
  DeviceContexts::Get().Change(dc, [&](DeviceContext& context) {
    previous = context.textColour;
    context.textColour = colour;
  });
  return previous;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour) {
  COLORREF previous = 0xFFFFFFFF;
  DeviceContexts::Get().Change(dc, [&](DeviceContext& context) {
    previous = context.backColour;
    context.backColour = colour;
  });
  return previous;
}

int WINAPI SetBkMode(HDC dc, int mode) {
  int previous = 0;
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  DeviceContexts::Get().Change(dc, [&](DeviceContext& context) {
    previous = context.backMode;
    context.backMode = mode;
  });
  return previous;
}

int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format) {
  DeviceContext context;
  if (text == nullptr || rect == nullptr || !DeviceContexts::Get().Read(dc, context)) return 0;
  const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  const FontMetrics metrics = MetricsOf(context.font);
  // One line: line breaks are drawn as the characters they are.
  const LONG textWidth = static_cast<LONG>(length) * metrics.advance;
  if (format & DT_CALCRECT) {
    rect->right = rect->left + textWidth;
    rect->bottom = rect->top + metrics.height;
    return metrics.height;
  }
  LONG left = rect->left;
  if (format & DT_CENTER)
    left = rect->left + (rect->right - rect->left - textWidth) / 2;
  else if (format & DT_RIGHT)
    left = rect->right - textWidth;
  LONG top = rect->top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
    top = rect->top + (rect->bottom - rect->top - metrics.height) / 2;
  else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM))
    top = rect->bottom - metrics.height;
  const RECT cell{left, top, left + textWidth, top + metrics.height};
  const uint32_t ink = PixelOf(context.textColour);
  const LONG glyphTop = top + (metrics.height - kGlyphHeight) / 2;
  WithPixels(context, [&](PixelTarget target) {
    if ((format & DT_NOCLIP) == 0) {
      const RECT r = *rect;
      target.clip =
          Intersect(target.clip, RECT{r.left + target.origin.x, r.top + target.origin.y,
                                      r.right + target.origin.x, r.bottom + target.origin.y});
    }
    if (context.backMode == OPAQUE) Fill(target, cell, PixelOf(context.backColour));
    for (size_t i = 0; i < length; ++i) {
      const uint8_t* glyph = Glyph(text[i]);
      const LONG glyphLeft = left + static_cast<LONG>(i) * metrics.advance;
      for (int row = 0; row < kGlyphHeight; ++row) {
        for (int column = 0; column < kGlyphWidth; ++column) {
          if ((glyph[row] >> (kGlyphWidth - 1 - column) & 1) == 0) continue;
          const LONG px = glyphLeft + column + target.origin.x;
          const LONG py = glyphTop + row + target.origin.y;
          if (px >= target.clip.left && px < target.clip.right && py >= target.clip.top &&
              py < target.clip.bottom)
            target.pixels[static_cast<size_t>(py) * target.stride + px] = ink;
        }
      }
    }
  });
  return static_cast<int>(top - rect->top + metrics.height);
}

int WINAPI GetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                     UINT usage) {
  if (info == nullptr || usage != DIB_RGB_COLORS) return 0;
  int result = 0;
  GdiObjects::Get().With(bitmap, [&](const GdiObject& o) {
    const auto* b = std::get_if<GdiBitmap>(&o);
    if (b == nullptr) return;
    BITMAPINFOHEADER& header = info->bmiHeader;
    if (bits == nullptr) {
      // Only the format is asked for.
      header.biWidth = b->width;
      header.biHeight = b->height;
      header.biPlanes = 1;
      header.biBitCount = 32;
      header.biCompression = BI_RGB;
      header.biSizeImage = static_cast<DWORD>(b->width * b->height * 4);
      result = 1;
      return;
    }
    if (header.biWidth != b->width || (header.biBitCount != 32 && header.biBitCount != 24) ||
        header.biCompression != BI_RGB)
      return;
    const bool topDown = header.biHeight < 0;
    const int bytes = header.biBitCount / 8;
    const size_t stride = ((static_cast<size_t>(b->width) * bytes + 3) / 4) * 4;
    auto* out = static_cast<uint8_t*>(bits);
    // `start` and `lines` count scan lines of the DIB, the first one being its bottom row
    // when it is bottom-up.
    for (UINT line = 0; line < lines && start + line < static_cast<UINT>(b->height); ++line) {
      const UINT dibRow = start + line;
      const LONG sourceRow =
          topDown ? static_cast<LONG>(dibRow) : b->height - 1 - static_cast<LONG>(dibRow);
      const uint32_t* in = b->pixels.data() + static_cast<size_t>(sourceRow) * b->width;
      uint8_t* row = out + static_cast<size_t>(line) * stride;
      for (LONG x = 0; x < b->width; ++x) {
        row[x * bytes] = static_cast<uint8_t>(in[x]);
        row[x * bytes + 1] = static_cast<uint8_t>(in[x] >> 8);
        row[x * bytes + 2] = static_cast<uint8_t>(in[x] >> 16);
        if (bytes == 4) row[x * bytes + 3] = 0;
      }
      ++result;
    }
  });
  return result;
}

}  // extern "C"
