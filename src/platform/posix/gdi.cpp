// GDI objects in memory: bitmaps from a module's resources, fonts as records of their request.
#include "platform/posix/gdi_objects.h"
#include "platform/posix/resources.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(LOGFONTA) == 60);

namespace brvst::platform {

GdiObjects& GdiObjects::Get() {
  static GdiObjects* objects = new GdiObjects;  // never destroyed, like the window system
  return *objects;
}

HGDIOBJ GdiObjects::Add(GdiObject object) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto handle = reinterpret_cast<HGDIOBJ>(next_);
  next_ += 4;
  objects_.emplace(handle, std::move(object));
  return handle;
}

bool GdiObjects::Remove(HGDIOBJ handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.erase(handle) != 0;
}

bool DecodePackedDib(const uint8_t* dib, size_t size, GdiBitmap& bitmap) {
  BITMAPINFOHEADER header;
  if (dib == nullptr || size < sizeof header) return false;
  std::memcpy(&header, dib, sizeof header);
  const int bits = header.biBitCount;
  if (header.biSize < sizeof header || header.biSize > size || header.biPlanes != 1 ||
      header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0 ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
    return false;
  const LONG width = header.biWidth;
  const bool topDown = header.biHeight < 0;
  const LONG height = topDown ? -header.biHeight : header.biHeight;
  size_t colours = 0;
  if (bits <= 8) colours = header.biClrUsed != 0 ? header.biClrUsed : (size_t{1} << bits);
  if (colours > 256) return false;
  const size_t paletteOffset = header.biSize;
  const size_t rowsOffset = paletteOffset + colours * sizeof(RGBQUAD);
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (rowsOffset > size || stride * static_cast<size_t>(height) > size - rowsOffset) return false;
  auto colour = [&](size_t index) -> uint32_t {
    if (index >= colours) return 0;
    const uint8_t* q = dib + paletteOffset + index * sizeof(RGBQUAD);
    return uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
  };
  bitmap.width = width;
  bitmap.height = height;
  bitmap.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (LONG row = 0; row < height; ++row) {
    const uint8_t* in =
        dib + rowsOffset + stride * static_cast<size_t>(topDown ? row : height - 1 - row);
    uint32_t* out = bitmap.pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(width);
    for (LONG x = 0; x < width; ++x) {
      switch (bits) {
        case 1:
          out[x] = colour((in[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          out[x] = colour(x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 0x0F);
          break;
        case 8:
          out[x] = colour(in[x]);
          break;
        case 24:
          out[x] = uint32_t{in[3 * x + 2]} << 16 | uint32_t{in[3 * x + 1]} << 8 | in[3 * x];
          break;
        default:
          out[x] = (uint32_t{in[4 * x + 2]} << 16 | uint32_t{in[4 * x + 1]} << 8 | in[4 * x]);
          break;
      }
    }
  }
  return true;
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR bitmapName) {
  // A null instance asks for the system's own bitmaps, which this desktop does not draw.
  if (instance == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  DWORD error = 0;
  const BitmapTemplate* resource = FindBitmapTemplate(instance, bitmapName, error);
  if (resource == nullptr) {
    SetLastError(error);
    return nullptr;
  }
  // As LoadBitmap on a true-colour screen: the result has the screen's format, whatever the
  // depth of the resource.
  GdiBitmap bitmap;
  if (!DecodePackedDib(resource->dib, resource->size, bitmap)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HBITMAP>(GdiObjects::Get().Add(std::move(bitmap)));
}

HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight,
                         DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                         DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                         DWORD pitchAndFamily, LPCSTR faceName) {
  GdiFont font;
  LOGFONTA& f = font.font;
  f.lfHeight = height;
  f.lfWidth = width;
  f.lfEscapement = escapement;
  f.lfOrientation = orientation;
  f.lfWeight = weight;
  f.lfItalic = static_cast<BYTE>(italic);
  f.lfUnderline = static_cast<BYTE>(underline);
  f.lfStrikeOut = static_cast<BYTE>(strikeOut);
  f.lfCharSet = static_cast<BYTE>(charSet);
  f.lfOutPrecision = static_cast<BYTE>(outPrecision);
  f.lfClipPrecision = static_cast<BYTE>(clipPrecision);
  f.lfQuality = static_cast<BYTE>(quality);
  f.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  if (faceName != nullptr) {
    const size_t length = std::min(std::strlen(faceName), size_t{LF_FACESIZE - 1});
    std::memcpy(f.lfFaceName, faceName, length);
  }
  return static_cast<HFONT>(GdiObjects::Get().Add(std::move(font)));
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  if (IsStockObject(object)) return TRUE;
  return object != nullptr && GdiObjects::Get().Remove(object) ? TRUE : FALSE;
}

int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer) {
  int result = 0;
  const bool found = GdiObjects::Get().With(object, [&](const GdiObject& o) {
    if (const auto* bitmap = std::get_if<GdiBitmap>(&o)) {
      if (buffer == nullptr) {
        result = sizeof(BITMAP);
      } else if (size >= static_cast<int>(sizeof(BITMAP))) {
        const BITMAP info{0, bitmap->width, bitmap->height, bitmap->width * 4, 1, 32, nullptr};
        std::memcpy(buffer, &info, sizeof info);
        result = sizeof(BITMAP);
      }
    } else if (const auto* font = std::get_if<GdiFont>(&o)) {
      // A font hands out as much of its LOGFONTA as the buffer holds.
      result = buffer == nullptr ? static_cast<int>(sizeof(LOGFONTA))
                                 : std::clamp(size, 0, static_cast<int>(sizeof(LOGFONTA)));
      if (buffer != nullptr) std::memcpy(buffer, &font->font, static_cast<size_t>(result));
    }
  });
  if (!found) SetLastError(ERROR_INVALID_HANDLE);
  return result;
}

LONG WINAPI GetBitmapBits(HBITMAP bitmap, LONG size, LPVOID bits) {
  LONG result = 0;
  GdiObjects::Get().With(bitmap, [&](const GdiObject& o) {
    const auto* b = std::get_if<GdiBitmap>(&o);
    if (b == nullptr) return;
    const LONG total = static_cast<LONG>(b->pixels.size() * sizeof(uint32_t));
    if (bits == nullptr) {
      result = total;
      return;
    }
    result = std::clamp<LONG>(size, 0, total);
    std::memcpy(bits, b->pixels.data(), static_cast<size_t>(result));
  });
  return result;
}

}  // extern "C"
