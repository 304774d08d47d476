#include "wke/wke_window.h"

#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "app/unique_handle.h"
#include "net/running_downloads.h"
#include "store/registry_helper.h"
#include "sys/file_helper.h"
#include "wke/caller_check.h"
#include "wke/custom_messages.h"
#include "wke/display_dpi.h"
#include "wke/engine_proxy.h"
#include "wke/modal_box.h"
#include "wke/mouse_hook.h"
#include "wke/origin_guard.h"
#include "wke/window_scale.h"
#include "wke/wke_function.h"

namespace {

constexpr unsigned short kEngineResourceId = 101;
constexpr wchar_t kEngineResourceType[] = L"SKIN";
constexpr unsigned short kIconResourceId = 102;
constexpr wchar_t kWindowTitle[] = L"Brindlex";
constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brindlex";
constexpr wchar_t kDisplayVersion[] = L"DisplayVersion";

// The document the window was asked to show. When it cannot be loaded the window
// would never be shown: nothing else tells the user, and the single-instance mutex
// would keep every later start out.
std::string g_startUrl;

HMODULE g_engineResourceModule = nullptr;

// The engine resource of the program's own file, as mapped bytes.
bool EngineResource(const unsigned char** data, DWORD* size) {
  const void* bytes = nullptr;
  if (!Helper::ResourceBytes(g_engineResourceModule, kEngineResourceId, kEngineResourceType,
                             &bytes, size)) {
    return false;
  }
  *data = static_cast<const unsigned char*>(bytes);
  return true;
}

bool FileHoldsExactly(HANDLE file, const unsigned char* data, DWORD size) {
  LARGE_INTEGER fileSize = {};
  if (!GetFileSizeEx(file, &fileSize) || fileSize.QuadPart != size) return false;
  unsigned char chunk[64 * 1024];
  DWORD offset = 0;
  while (offset < size) {
    DWORD want = size - offset < sizeof(chunk) ? size - offset : sizeof(chunk);
    DWORD got = 0;
    if (!ReadFile(file, chunk, want, &got, nullptr) || got != want) return false;
    if (memcmp(chunk, data + offset, got) != 0) return false;
    offset += got;
  }
  return true;
}

enum class EngineFile { kExact, kUnopened, kDifferent, kElsewhere };

// Opens path for reading as the entry itself, reached through no link, with writers
// and deleters shut out (so none of the folders above it can be renamed or swapped
// either); *held keeps it open only when the file holds exactly the engine's bytes.
EngineFile OpenExactEngine(const std::wstring& path, const unsigned char* engine, DWORD size,
                           UniqueHandle* held) {
  LinkGuard::HeldFile file;
  switch (file.Open(path, GENERIC_READ, FILE_SHARE_READ, false)) {
    case LinkGuard::Held::kOpened:
      break;
    case LinkGuard::Held::kLeadsElsewhere:
      return EngineFile::kElsewhere;
    default:
      return EngineFile::kUnopened;
  }
  if (!FileHoldsExactly(file.get(), engine, size)) return EngineFile::kDifferent;
  held->reset(file.Release());
  return EngineFile::kExact;
}

}  // namespace

void SetEngineResourceModule(HMODULE module) { g_engineResourceModule = module; }

WkeWindow::~WkeWindow() {
  // Only a window that reached the engine finalises it; members go afterwards, in
  // reverse order of declaration (the hook is removed after the engine is gone).
  if (webView) wkeFinalize();
}

void WkeWindow::Init(bool rechargeFlag) {
  recharge = rechargeFlag;
  // Not the cache folder: that is the user's, and when this program runs as SYSTEM
  // the console user is another account.
  const std::wstring engineFolder = Helper::GetEngineFolder();
  nodeDllPath = engineFolder.empty() ? std::wstring() : engineFolder + L"\\node.dll";
  const unsigned char* engine = nullptr;
  DWORD engineSize = 0;
  if (!EngineResource(&engine, &engineSize)) {
    LOG_ERROR("node.dll释放失败");
    return;
  }
  // A link in its place would have the rewrite below land wherever it points.
  if (nodeDllPath.empty() || !LinkGuard::RemoveLinkAt(nodeDllPath)) {
    LOG_ERROR("node.dll not loaded");
    return;
  }
  // Whatever may have happened to the file before: load it only when it is exactly
  // the embedded engine, and keep writers out from the comparison until the library
  // is loaded. A file the last start left intact is used as it is; rewriting tens of
  // megabytes at every start only costs time.
  UniqueHandle file;
  if (OpenExactEngine(nodeDllPath, engine, engineSize, &file) != EngineFile::kExact) {
    if (!Helper::ExtractResourceToFile(g_engineResourceModule, kEngineResourceId,
                                       kEngineResourceType, nodeDllPath.c_str())) {
      LOG_ERROR("node.dll释放失败");
      return;
    }
    switch (OpenExactEngine(nodeDllPath, engine, engineSize, &file)) {
      case EngineFile::kExact:
        break;
      case EngineFile::kUnopened:
        LOG_ERROR("node.dll cannot be opened for checking, not loaded");
        return;
      case EngineFile::kDifferent:
        LOG_ERROR("node.dll on disk differs from the embedded engine, not loaded");
        return;
      case EngineFile::kElsewhere:
        LOG_ERROR("node.dll is reached through a link, not loaded");
        return;
    }
  }
  g_wkeEnginePath = nodeDllPath.c_str();
  LoadWkeApi(nullptr);
}

void WkeWindow::Create(HINSTANCE hInstance, unsigned short width, unsigned short height,
                       const char* url) {
  // The page lays out at width x height CSS pixels on every monitor: the window is
  // that size times the scale of the monitor it opens on, and the engine zooms by it.
  const UINT dpi = DisplayDpi::OfPoint(POINT{0, 0});
  webView = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0,
                               DisplayDpi::Scale(width, dpi), DisplayDpi::Scale(height, dpi));
  if (!webView) {
    LOG_ERROR("web window not created");
    return;
  }
  SetScriptCallView(webView);
  WindowScale::ApplyZoom(webView, dpi);

  const std::wstring cacheDirectory = Helper::GetCachePath(std::wstring());
  wkeSetCookieJarFullPath(webView, cacheDirectory.c_str());
  wkeSetLocalStorageFullPath(webView, cacheDirectory.c_str());
  wkeSetContextMenuEnabled(webView, false);
  wkeSetWindowTitleW(webView, kWindowTitle);

  wkeOnWindowClosing(webView, &WkeWindow::OnWkeWindowClosingCallback, nullptr);
  wkeOnDocumentReady(webView, &WkeWindow::OnWkeDocumentReadyCallback, this);
  wkeOnLoadUrlFail(webView, &WkeWindow::OnWkeLoadUrlFailCallback, nullptr);

  wkeFunction = std::make_shared<WkeFunction>();
  wkeFunction->Bind(webView);
  // Message boxes, the engine's alert and file dialog run loops of their own, which
  // dispatch the work posted to the host window instead of handing it to ours.
  HandleCustomMessagesIn(wkeFunction->hwnd);

  char inspector[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, inspector, MAX_PATH);
  PathRemoveFileSpecA(inspector);
  PathAppendA(inspector, "inspector\\inspector.html");
  if (PathFileExistsA(inspector)) {
    LOG_INFO("检测到inspector.html文件，开启调试模式");
    const std::string devToolsUrl = "file:///" + AnsiText(inspector).ToUtf8();
    wkeSetDebugConfig(webView, "showDevTools", devToolsUrl.c_str());
  }

  g_startUrl = url ? url : "";
  ApplySystemProxyToView(webView, url);
  wkeLoadURL(webView, url);
  wkeMoveToCenter(webView);

  HWND hwnd = wkeGetHostHWND(webView);
  if (!WindowScale::FollowDpiChanges(webView, hwnd, width, height)) {
    LOG_WARNING("the window will not follow moves to monitors of another DPI");
  }
  HICON icon = LoadIconW(hInstance, MAKEINTRESOURCEW(kIconResourceId));
  PostMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  PostMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::wstring version = FileHelper::GetVersion(program);
  const std::wstring stored =
      RegistryHelper::ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, kDisplayVersion);
  // Only an installed product (a stored version) is kept in step.
  if (!stored.empty() && stored != version) {
    RegistryHelper::WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, kDisplayVersion, version);
  }

  mouseHook = std::make_shared<MouseHook>(GetModuleHandleW(nullptr), hwnd);
}

bool WkeWindow::OnWkeWindowClosingCallback(wkeWebView webView, void* param) {
  wkeDestroyWebWindow(webView);
  // Call strings still queued or on their way must not run on the destroyed view.
  SetScriptCallView(nullptr);
  PostQuitMessage(0);
  return true;
}

void WkeWindow::OnWkeDocumentReadyCallback(wkeWebView webView, void* param) {
  CheckEngineAnswersLocation(webView);
  wkeShowWindow(webView, true);
  const WkeWindow* window = static_cast<const WkeWindow*>(param);
  if (window && window->recharge) wkeRunJSW(webView, L"openPayDialog()");
}

void WkeWindow::OnWkeLoadUrlFailCallback(wkeWebView webView, void* param, const char* url,
                                         void* job) {
  const char* failed = url ? url : "";
  LOG_ERROR("wke load url fail: %s", AnsiText(failed).c_str());
  const bool startPage = !g_startUrl.empty() && SameDocument(failed, g_startUrl);
  if (!strstr(failed, "tool/brindlex") && !startPage) return;
  ShowModalBox(L"网络连接失败，请稍后再试", L"Brindlex", MB_ICONERROR);
  // exit() runs the runtime's exit handlers, the TLS library's clean-up among them:
  // downloads still inside libcurl are stopped first, as at a normal end.
  RunningDownloads::Stop();
  exit(0);
}

void WkeWindow::RunMessageLoop() const {
  MSG msg = {};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_CLOSE) return;
    if (CarryOutCustomMessage(msg)) continue;
    DispatchMessageW(&msg);
    TranslateMessage(&msg);
  }
}
