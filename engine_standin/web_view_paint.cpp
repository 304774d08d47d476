#include "engine_standin/web_view_paint.h"

#include <cmath>
#include <string>

#include "engine_standin/page.h"
#include "engine_standin/text.h"
#include "engine_standin/web_view.h"

namespace standin {

namespace {

struct GdiObject {
  HGDIOBJ handle;
  explicit GdiObject(HGDIOBJ h) : handle(h) {}
  ~GdiObject() {
    if (handle) DeleteObject(handle);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
};

}  // namespace

void PaintWebView(WebView* view, HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client;
  GetClientRect(hwnd, &client);
  // The layout is in CSS pixels; the zoom gives the device pixels they take.
  const float zoom = view->zoomFactor;
  const auto px = [zoom](int css) { return static_cast<int>(lroundf(css * zoom)); };
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  GdiObject titleFont(CreateFontW(-px(22), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0,
                                  0, L"Tahoma"));
  GdiObject textFont(CreateFontW(-px(14), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                 0, 0, L"Tahoma"));
  HGDIOBJ oldFont = SelectObject(dc, titleFont.handle);
  const std::wstring title =
      Utf8ToWide(view->page && !view->page->title().empty() ? view->page->title() : std::string("(untitled)"));
  const int margin = px(12);
  RECT line = {margin, px(10), client.right - margin, px(40)};
  SetTextColor(dc, RGB(0x20, 0x20, 0x20));
  DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &line,
            DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, textFont.handle);
  const std::wstring url = Utf8ToWide(view->url);
  line = {margin, px(42), client.right - margin, px(62)};
  SetTextColor(dc, RGB(0x70, 0x70, 0x70));
  DrawTextW(dc, url.c_str(), static_cast<int>(url.size()), &line,
            DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  SetTextColor(dc, RGB(0x10, 0x10, 0x60));
  // The newest lines that fit, oldest first.
  const int rowHeight = px(18);
  const int rows = (client.bottom - px(76)) / rowHeight;
  size_t first = 0;
  if (rows > 0 && view->consoleLines.size() > static_cast<size_t>(rows)) {
    first = view->consoleLines.size() - static_cast<size_t>(rows);
  }
  int top = px(72);
  for (size_t i = first; rows > 0 && i < view->consoleLines.size(); ++i, top += rowHeight) {
    const std::wstring text = Utf8ToWide(view->consoleLines[i]);
    line = {margin, top, client.right - margin, top + rowHeight};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
              DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &paint);
}

}  // namespace standin
