// The stand-in web view runtime (see stand_in_runtime.h): one runtime per process, its state in
// Runtime below, its COM objects each answering their own interface ids.
#include "tests/win32/stand_in/stand_in_runtime.h"

#include "platform/win32/com_ptr.h"
#include "platform/win32/web_view2_interfaces.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::tests::stand_in {
namespace {

using namespace platform::win32::webview2;
using platform::win32::ComPtr;

LPWSTR CopyOf(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy)
        text.copy(copy, text.size()), copy[text.size()] = L'\0';
    return copy;
}

// Reference counting and QueryInterface for one object that answers `kIids` (and IUnknown).
template <typename Interface, const IID&... kIids> class Object : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown) || (::IsEqualIID(iid, kIids) || ...)) {
            *object = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    virtual ~Object() = default;

private:
    ULONG references_ = 1;
};

class Controller;
class View;

// What one process's runtime knows; the test's Control over it.
class Runtime final : public Control {
public:
    // Records and scripted answers.
    std::vector<std::wstring> records;
    HRESULT environmentAtOnce = S_OK;
    HRESULT environmentLater = S_OK;
    HRESULT controllerLater = S_OK;
    bool webViewFails = false;
    int creations = 0;
    // The view of the latest controller, while it is open.
    Controller* controller = nullptr;
    View* view = nullptr;

    // Also appended to the file TARVIK_STAND_IN_RECORDS names, one UTF-16 line each, for a test
    // that runs the program in a process of its own.
    void Note(std::wstring line) {
        wchar_t path[MAX_PATH] = {};
        if (::GetEnvironmentVariableW(L"TARVIK_STAND_IN_RECORDS", path, MAX_PATH) > 0) {
            const HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                const std::wstring text = line + L"\n";
                DWORD written = 0;
                ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                            &written, nullptr);
                ::CloseHandle(file);
            }
        }
        records.push_back(std::move(line));
    }

    // Runs `action` from the message loop of the calling thread, as the runtime delivers its
    // creations.
    void Later(std::function<void()> action);

    void Reset() override;
    void FailNextEnvironment(HRESULT atOnce, HRESULT later) override {
        environmentAtOnce = atOnce;
        environmentLater = later;
    }
    void FailNextController(HRESULT later) override { controllerLater = later; }
    void FailNextWebView() override { webViewFails = true; }
    size_t RecordCount() const override { return records.size(); }
    const wchar_t* Record(size_t index) const override {
        return index < records.size() ? records[index].c_str() : L"";
    }
    void ClearRecords() override { records.clear(); }
    bool HasView() const override { return view != nullptr; }
    HWND ViewWindow() const override;
    int Creations() const override { return creations; }
    uint64_t StartNavigation(const wchar_t* uri, bool userInitiated, bool redirect, uint64_t id,
                             bool* cancelled) override;
    void Commit(const wchar_t* uri, bool errorPage) override;
    void Complete(uint64_t id, bool success, int webErrorStatus, int httpStatus) override;
    void Message(const wchar_t* source, const wchar_t* text) override;
    bool NewWindow(const wchar_t* uri, bool userInitiated) override;
    int Permission(int kind, const wchar_t* uri) override;
    void ProcessFailed(int kind) override;

    std::deque<std::function<void()>> due;
    HWND messages = nullptr;
};

Runtime& TheRuntime() {
    static Runtime runtime;
    return runtime;
}

constexpr UINT kDue = WM_APP + 1;

LRESULT CALLBACK MessagesProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kDue) {
        Runtime& runtime = TheRuntime();
        if (!runtime.due.empty()) {
            std::function<void()> action = std::move(runtime.due.front());
            runtime.due.pop_front();
            action();
        }
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void Runtime::Later(std::function<void()> action) {
    if (!messages) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &MessagesProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarvikStandInRuntime";
        ::RegisterClassW(&windowClass);
        messages = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, windowClass.hInstance, nullptr);
    }
    due.push_back(std::move(action));
    ::PostMessageW(messages, kDue, 0, 0);
}

// One registered handler per event (the host registers each once per view).
template <typename Handler> struct Registration {
    ComPtr<Handler> handler;
    HRESULT Add(Handler* added, EventRegistrationToken* token) {
        handler = ComPtr<Handler>::Share(added);
        if (token)
            token->value = 1;
        return S_OK;
    }
};

class Settings final
    : public Object<ICoreWebView2Settings3, kIidSettings, kIidSettings2, kIidSettings3> {
public:
    HRESULT Put(const wchar_t* member, BOOL value) {
        TheRuntime().Note(std::wstring(L"settings ") + member + L" " + (value ? L"1" : L"0"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL v) override {
        return Put(L"IsScriptEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL v) override {
        return Put(L"IsWebMessageEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL v) override {
        return Put(L"AreDefaultScriptDialogsEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override {
        return Put(L"IsStatusBarEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL v) override {
        return Put(L"AreDevToolsEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL v) override {
        return Put(L"AreDefaultContextMenusEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL v) override {
        return Put(L"AreHostObjectsAllowed", v);
    }
    HRESULT STDMETHODCALLTYPE get_IsZoomControlEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL v) override {
        return Put(L"IsZoomControlEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_IsBuiltInErrorPageEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsBuiltInErrorPageEnabled(BOOL v) override {
        return Put(L"IsBuiltInErrorPageEnabled", v);
    }
    HRESULT STDMETHODCALLTYPE get_UserAgent(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_UserAgent(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AreBrowserAcceleratorKeysEnabled(BOOL*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_AreBrowserAcceleratorKeysEnabled(BOOL v) override {
        return Put(L"AreBrowserAcceleratorKeysEnabled", v);
    }
};

class View final : public Object<ICoreWebView2, kIidWebView> {
public:
    std::wstring source = L"about:blank";
    Registration<ICoreWebView2NavigationStartingEventHandler> navigationStarting;
    Registration<ICoreWebView2ContentLoadingEventHandler> contentLoading;
    Registration<ICoreWebView2NavigationCompletedEventHandler> navigationCompleted;
    Registration<ICoreWebView2PermissionRequestedEventHandler> permissionRequested;
    Registration<ICoreWebView2ProcessFailedEventHandler> processFailed;
    Registration<ICoreWebView2WebMessageReceivedEventHandler> messageReceived;
    Registration<ICoreWebView2NewWindowRequestedEventHandler> newWindowRequested;

    // Drops the host's handlers, which hold the host's state.
    void Forget() {
        navigationStarting.handler.Reset();
        contentLoading.handler.Reset();
        navigationCompleted.handler.Reset();
        permissionRequested.handler.Reset();
        processFailed.handler.Reset();
        messageReceived.handler.Reset();
        newWindowRequested.handler.Reset();
    }

    HRESULT STDMETHODCALLTYPE get_Settings(IUnknown** settings) override {
        if (!settings)
            return E_POINTER;
        *settings = static_cast<ICoreWebView2Settings*>(new Settings);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override {
        if (!uri)
            return E_POINTER;
        *uri = CopyOf(source);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        TheRuntime().Note(std::wstring(L"navigate ") + (uri ? uri : L""));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                           EventRegistrationToken* token) override {
        return navigationStarting.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ContentLoading(ICoreWebView2ContentLoadingEventHandler* handler,
                                                 EventRegistrationToken* token) override {
        return contentLoading.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_SourceChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationCompleted(IUnknown* handler,
                                                      EventRegistrationToken* token) override {
        ComPtr<ICoreWebView2NavigationCompletedEventHandler> typed;
        if (!handler || FAILED(handler->QueryInterface(kIidNavigationCompletedHandler,
                                                       reinterpret_cast<void**>(typed.Put()))))
            return E_NOINTERFACE;
        return navigationCompleted.Add(typed.get(), token);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown*,
                                                          EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*,
                                                           EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler* handler,
                            EventRegistrationToken* token) override {
        return permissionRequested.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                                EventRegistrationToken* token) override {
        return processFailed.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(LPCWSTR, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CapturePreview(int, IStream*, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reload() override {
        TheRuntime().Note(L"reload");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override {
        TheRuntime().Note(std::wstring(L"post ") + (json ? json : L""));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                           EventRegistrationToken* token) override {
        return messageReceived.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                           EventRegistrationToken* token) override {
        return newWindowRequested.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_DocumentTitleChanged(IUnknown*,
                                                       EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_DocumentTitleChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() override {
        TheRuntime().Note(L"devtools");
        return S_OK;
    }
};

// The runtime's window inside the host window: a plain child that shows and moves as the
// controller is told, so that tests can see what covers what.
HWND MakeViewWindow(HWND parent) {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = L"TarvikStandInView";
        return ::RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
    // Visible at first, as the runtime's controller starts.
    return ::CreateWindowExW(0, L"TarvikStandInView", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                             parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

class Controller final : public Object<ICoreWebView2Controller, kIidController> {
public:
    explicit Controller(HWND parent) : window(MakeViewWindow(parent)) {}
    ~Controller() override { Close(); }
    HWND window;
    ComPtr<View> view = ComPtr<View>::Adopt(new View);
    bool closed = false;

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
        if (!visible)
            return E_POINTER;
        *visible = window && ::IsWindowVisible(window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
        TheRuntime().Note(std::wstring(L"visible ") + (visible ? L"1" : L"0"));
        if (window)
            ::ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        TheRuntime().Note(L"bounds " + std::to_wstring(bounds.left) + L" " +
                          std::to_wstring(bounds.top) + L" " + std::to_wstring(bounds.right) +
                          L" " + std::to_wstring(bounds.bottom));
        if (window)
            ::SetWindowPos(window, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                           bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveFocus(int reason) override {
        TheRuntime().Note(L"focus " + std::to_wstring(reason));
        if (window)
            ::SetFocus(window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*,
                                                        EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
        TheRuntime().Note(L"moved");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (closed)
            return S_OK;
        closed = true;
        Runtime& runtime = TheRuntime();
        runtime.Note(L"close");
        if (runtime.controller == this) {
            runtime.controller = nullptr;
            runtime.view = nullptr;
        }
        if (view)
            view->Forget();
        if (window && ::IsWindow(window))
            ::DestroyWindow(window);
        window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webView) override {
        if (!webView)
            return E_POINTER;
        Runtime& runtime = TheRuntime();
        if (closed || runtime.webViewFails) {
            runtime.webViewFails = false;
            *webView = nullptr;
            return E_FAIL;
        }
        view->AddRef();
        *webView = view.get();
        return S_OK;
    }
};

class Environment final : public Object<ICoreWebView2Environment, kIidEnvironment> {
public:
    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
        if (!handler || !::IsWindow(parent))
            return E_INVALIDARG;
        Runtime& runtime = TheRuntime();
        runtime.Note(L"controller");
        const HRESULT result = std::exchange(runtime.controllerLater, S_OK);
        runtime.Later(
            [parent, result,
             done = ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::Share(
                 handler)] {
                Runtime& runtime = TheRuntime();
                if (FAILED(result) || !::IsWindow(parent)) {
                    done->Invoke(FAILED(result) ? result : E_ABORT, nullptr);
                    return;
                }
                // The latest controller is the one events go to; an older one is given up.
                if (runtime.controller)
                    runtime.controller->Close();
                auto controller = ComPtr<Controller>::Adopt(new Controller(parent));
                runtime.controller = controller.get();
                runtime.view = controller->view.get();
                done->Invoke(S_OK, controller.get());
            });
        return S_OK;
    }
};

// Arguments of the events, each holding what the test gave.
class NavigationStartingArgs final
    : public Object<ICoreWebView2NavigationStartingEventArgs, kIidNavigationStartingEventArgs> {
public:
    std::wstring uri;
    BOOL userInitiated = FALSE;
    BOOL redirected = FALSE;
    BOOL cancel = FALSE;
    UINT64 id = 0;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* out) override {
        *out = CopyOf(uri);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* out) override {
        *out = userInitiated;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* out) override {
        *out = redirected;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_RequestHeaders(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* out) override {
        *out = cancel;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
        cancel = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* out) override {
        *out = id;
        return S_OK;
    }
};

class NavigationCompletedArgs final
    : public Object<ICoreWebView2NavigationCompletedEventArgs2, kIidNavigationCompletedEventArgs,
                    kIidNavigationCompletedEventArgs2> {
public:
    BOOL success = TRUE;
    int webErrorStatus = 0;
    UINT64 id = 0;
    int httpStatus = 0;
    HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* out) override {
        *out = success;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WebErrorStatus(int* out) override {
        *out = webErrorStatus;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* out) override {
        *out = id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HttpStatusCode(int* out) override {
        *out = httpStatus;
        return S_OK;
    }
};

class ContentLoadingArgs final
    : public Object<ICoreWebView2ContentLoadingEventArgs, kIidContentLoadingEventArgs> {
public:
    BOOL errorPage = FALSE;
    HRESULT STDMETHODCALLTYPE get_IsErrorPage(BOOL* out) override {
        *out = errorPage;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* out) override {
        *out = 0;
        return S_OK;
    }
};

class MessageArgs final
    : public Object<ICoreWebView2WebMessageReceivedEventArgs, kIidWebMessageReceivedEventArgs> {
public:
    std::wstring source;
    std::optional<std::wstring> text;
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* out) override {
        *out = CopyOf(source);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* out) override {
        *out = nullptr;
        if (!text)
            return E_INVALIDARG;
        *out = CopyOf(*text);
        return S_OK;
    }
};

class NewWindowArgs final
    : public Object<ICoreWebView2NewWindowRequestedEventArgs, kIidNewWindowRequestedEventArgs> {
public:
    std::wstring uri;
    BOOL userInitiated = FALSE;
    BOOL handled = FALSE;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* out) override {
        *out = CopyOf(uri);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
        handled = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Handled(BOOL* out) override {
        *out = handled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* out) override {
        *out = userInitiated;
        return S_OK;
    }
};

class PermissionArgs final
    : public Object<ICoreWebView2PermissionRequestedEventArgs, kIidPermissionRequestedEventArgs> {
public:
    std::wstring uri;
    int kind = 0;
    int state = 0;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* out) override {
        *out = CopyOf(uri);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PermissionKind(int* out) override {
        *out = kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* out) override {
        *out = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_State(int* out) override {
        *out = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_State(int value) override {
        state = value;
        return S_OK;
    }
};

class ProcessFailedArgs final
    : public Object<ICoreWebView2ProcessFailedEventArgs, kIidProcessFailedEventArgs> {
public:
    int kind = 0;
    HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(int* out) override {
        *out = kind;
        return S_OK;
    }
};

void Runtime::Reset() {
    if (controller)
        controller->Close();
    due.clear();
    records.clear();
    environmentAtOnce = environmentLater = controllerLater = S_OK;
    webViewFails = false;
    creations = 0;
}

HWND Runtime::ViewWindow() const {
    return controller ? controller->window : nullptr;
}

uint64_t Runtime::StartNavigation(const wchar_t* uri, bool userInitiated, bool redirect,
                                  uint64_t id, bool* cancelled) {
    static uint64_t last = 0;
    const auto args = ComPtr<NavigationStartingArgs>::Adopt(new NavigationStartingArgs);
    args->uri = uri ? uri : L"";
    args->userInitiated = userInitiated;
    args->redirected = redirect;
    // A redirect keeps its navigation's number.
    args->id = id != 0 ? id : ++last;
    if (view && view->navigationStarting.handler)
        view->navigationStarting.handler->Invoke(view, args.get());
    if (cancelled)
        *cancelled = args->cancel != FALSE;
    return args->id;
}

void Runtime::Commit(const wchar_t* uri, bool errorPage) {
    if (!view)
        return;
    view->source = uri ? uri : L"";
    const auto args = ComPtr<ContentLoadingArgs>::Adopt(new ContentLoadingArgs);
    args->errorPage = errorPage ? TRUE : FALSE;
    if (view->contentLoading.handler)
        view->contentLoading.handler->Invoke(view, args.get());
}

void Runtime::Complete(uint64_t id, bool success, int webErrorStatus, int httpStatus) {
    const auto args = ComPtr<NavigationCompletedArgs>::Adopt(new NavigationCompletedArgs);
    args->id = id;
    args->success = success;
    args->webErrorStatus = webErrorStatus;
    args->httpStatus = httpStatus;
    if (view && view->navigationCompleted.handler)
        view->navigationCompleted.handler->Invoke(view, args.get());
}

void Runtime::Message(const wchar_t* source, const wchar_t* text) {
    const auto args = ComPtr<MessageArgs>::Adopt(new MessageArgs);
    args->source = source ? source : L"";
    if (text)
        args->text = text;
    if (view && view->messageReceived.handler)
        view->messageReceived.handler->Invoke(view, args.get());
}

bool Runtime::NewWindow(const wchar_t* uri, bool userInitiated) {
    const auto args = ComPtr<NewWindowArgs>::Adopt(new NewWindowArgs);
    args->uri = uri ? uri : L"";
    args->userInitiated = userInitiated;
    if (view && view->newWindowRequested.handler)
        view->newWindowRequested.handler->Invoke(view, args.get());
    return args->handled != FALSE;
}

int Runtime::Permission(int kind, const wchar_t* uri) {
    const auto args = ComPtr<PermissionArgs>::Adopt(new PermissionArgs);
    args->kind = kind;
    args->uri = uri ? uri : L"";
    if (view && view->permissionRequested.handler)
        view->permissionRequested.handler->Invoke(view, args.get());
    return args->state;
}

void Runtime::ProcessFailed(int kind) {
    const auto args = ComPtr<ProcessFailedArgs>::Adopt(new ProcessFailedArgs);
    args->kind = kind;
    if (!view || !view->processFailed.handler)
        return;
    // Keeps the handler while it runs: the host may give up the view from inside it.
    const ComPtr<ICoreWebView2ProcessFailedEventHandler> handler = view->processFailed.handler;
    const ComPtr<View> failed = ComPtr<View>::Share(view);
    handler->Invoke(failed.get(), args.get());
}

} // namespace
} // namespace tarvik::tests::stand_in

using tarvik::tests::stand_in::TheRuntime;

extern "C" __declspec(dllexport) tarvik::tests::stand_in::Control* __cdecl TarvikStandInControl() {
    return &TheRuntime();
}

// The runtime's entry point, as its loader calls it.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder, IUnknown* options,
    tarvik::platform::win32::webview2::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*
        handler) {
    using namespace tarvik::tests::stand_in;
    using tarvik::platform::win32::ComPtr;
    using tarvik::platform::win32::webview2::
        ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
    Runtime& runtime = TheRuntime();
    ++runtime.creations;
    runtime.Note(L"environment " + std::to_wstring(checkRunningInstance ? 1 : 0) + L" " +
                 std::to_wstring(runtimeType) + L" " + (userDataFolder ? userDataFolder : L"") +
                 (options ? L" options" : L""));
    if (!handler)
        return E_POINTER;
    if (const HRESULT atOnce = std::exchange(runtime.environmentAtOnce, S_OK); FAILED(atOnce))
        return atOnce;
    const HRESULT later = std::exchange(runtime.environmentLater, S_OK);
    runtime.Later(
        [later, done = ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::Share(
                    handler)] {
            if (FAILED(later)) {
                done->Invoke(later, nullptr);
                return;
            }
            const auto environment = ComPtr<Environment>::Adopt(new Environment);
            done->Invoke(S_OK, environment.get());
        });
    return S_OK;
}
