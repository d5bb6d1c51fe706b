// UI Automation calls (Windows). Keep all of them in this file.
#include "uianotification.h"

#ifdef Q_OS_WIN
#    include <qt_windows.h>

#    include <oleauto.h>
#    include <unknwn.h>

namespace {

// From UIAutomationCoreApi.h, declared here because the function is found at run time.
constexpr int NotificationKindOther = 4;
constexpr int NotificationProcessingAll = 2;
using HostProviderFromHwnd = HRESULT(WINAPI *)(HWND, IUnknown **);
using RaiseNotificationEvent = HRESULT(WINAPI *)(IUnknown *, int, int, BSTR, BSTR);

struct Functions
{
    HostProviderFromHwnd hostProvider = nullptr;
    RaiseNotificationEvent raise = nullptr;
};

Functions lookUp()
{
    // Only the system's own copy, never one found beside the program.
    const HMODULE module
        = LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module)
        return {};
    Functions found;
    found.hostProvider = reinterpret_cast<HostProviderFromHwnd>(
        reinterpret_cast<void *>(GetProcAddress(module, "UiaHostProviderFromHwnd")));
    found.raise = reinterpret_cast<RaiseNotificationEvent>(
        reinterpret_cast<void *>(GetProcAddress(module, "UiaRaiseNotificationEvent")));
    return found;
}

} // namespace

UiaNotification::Outcome UiaNotification::raise(quintptr window, const QString &text)
{
    static const Functions functions = lookUp();
    if (!functions.hostProvider || !functions.raise)
        return Outcome::Unavailable;
    IUnknown *provider = nullptr;
    if (!window || FAILED(functions.hostProvider(reinterpret_cast<HWND>(window), &provider))
        || !provider)
        return Outcome::Failed;
    const BSTR display
        = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), UINT(text.size()));
    const BSTR activity = SysAllocString(L"Korvan.StateChange");
    const HRESULT result = functions.raise(provider, NotificationKindOther,
                                           NotificationProcessingAll, display, activity);
    SysFreeString(activity);
    SysFreeString(display);
    provider->Release();
    return SUCCEEDED(result) ? Outcome::Raised : Outcome::Failed;
}

#else

UiaNotification::Outcome UiaNotification::raise(quintptr, const QString &)
{
    return Outcome::Unavailable;
}

#endif
