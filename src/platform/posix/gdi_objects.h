// Inside the platform: GDI objects in memory.
#pragma once

#include "platform/platform.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>
#include <vector>

namespace brvst::platform {

// A device-dependent bitmap of the headless screen: 32 bits per pixel, rows top-down, each
// pixel 0x00RRGGBB (bytes blue, green, red, unused).
struct GdiBitmap {
  LONG width = 0;
  LONG height = 0;
  std::vector<uint32_t> pixels;
};

struct GdiFont {
  LOGFONTA font{};
};

struct GdiBrush {
  COLORREF colour = 0;
};

using GdiObject = std::variant<GdiBitmap, GdiFont, GdiBrush>;

class GdiObjects {
 public:
  static GdiObjects& Get();

  HGDIOBJ Add(GdiObject object);
  bool Remove(HGDIOBJ handle);

  // Runs `use` on the object behind `handle` under the table's lock; false when there is none.
  template <class Use>
  bool With(HGDIOBJ handle, Use&& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return false;
    use(found->second);
    return true;
  }

 private:
  GdiObjects() = default;
  std::mutex mutex_;
  std::unordered_map<HGDIOBJ, GdiObject> objects_;
  uintptr_t next_ = 0x4000;
};

// Decodes a packed device-independent bitmap (BITMAPINFOHEADER, colour table, rows) of 1, 4, 8,
// 24 or 32 bits per pixel without compression. False for anything else or a truncated one.
bool DecodePackedDib(const uint8_t* dib, size_t size, GdiBitmap& bitmap);

// Whether `object` is one of GetStockObject's, which DeleteObject leaves alone (painting.cpp).
bool IsStockObject(HGDIOBJ object);

}  // namespace brvst::platform
