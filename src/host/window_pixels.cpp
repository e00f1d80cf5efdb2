#include "host/window_pixels.h"

namespace brvst::host {
namespace {

Pixels Read(HDC dc, HBITMAP bitmap, LONG width, LONG height) {
  Pixels pixels;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  pixels.data.resize(static_cast<size_t>(width) * height);
  if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data.data(), &info,
                DIB_RGB_COLORS) == height) {
    pixels.width = width;
    pixels.height = height;
    for (uint32_t& p : pixels.data) p &= 0x00FFFFFF;
  } else {
    pixels.data.clear();
  }
  return pixels;
}

}  // namespace

Pixels ReadWindowPixels(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  const LONG width = client.right;
  const LONG height = client.bottom;
  if (width <= 0 || height <= 0) return {};
  HDC dc = GetDC(window);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP copy = CreateCompatibleBitmap(dc, width, height);
  HGDIOBJ previous = SelectObject(memory, copy);
  BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  SelectObject(memory, previous);  // GetDIBits wants the bitmap selected nowhere
  Pixels pixels = Read(memory, copy, width, height);
  DeleteDC(memory);
  DeleteObject(copy);
  ReleaseDC(window, dc);
  return pixels;
}

Pixels ReadBitmapPixels(HBITMAP bitmap) {
  BITMAP info{};
  if (GetObjectA(bitmap, sizeof info, &info) == 0) return {};
  HDC dc = CreateCompatibleDC(nullptr);
  Pixels pixels = Read(dc, bitmap, info.bmWidth, info.bmHeight);
  DeleteDC(dc);
  return pixels;
}

}  // namespace brvst::host
