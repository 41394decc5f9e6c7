#include "platform/win32/web_view.h"

#include "common/curl/web_url.h"
#include "common/text_conversion.h"
#include "common/translation.h"
#include "platform/win32/host_navigation.h"
#include "platform/win32/host_window.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <exception>
#include <utility>

namespace tarvik::platform::win32 {

using namespace webview2;

namespace {

std::wstring ExecutableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The loader, loaded once for the process and never unloaded: the runtime's objects call into it
// until the process ends. Only the executable's own folder is searched, so that no copy
// elsewhere on the search path is picked up.
HMODULE Loader() {
    static const HMODULE module = [] {
        const std::wstring path = ExecutableFolder() + L"\\WebView2Loader.dll";
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }();
    return module;
}

template <typename Function> Function LoaderFunction(const char* name) {
    const HMODULE module = Loader();
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
               : nullptr;
}

std::string Utf8(LPCWSTR text) {
    return text ? NarrowFromWide(text) : std::string();
}

std::string TakeString(LPWSTR text) {
    std::string result = Utf8(text);
    ::CoTaskMemFree(text);
    return result;
}

// One COM object for one of the runtime's callbacks: reference counted, answering its own
// interface id, and running `function` with the callback's arguments. No C++ exception may reach
// the runtime's frames: one that escapes ends the program plainly.
template <typename Interface, const IID& kIid, typename... Arguments>
class Callback final : public Interface {
public:
    using Function = std::function<HRESULT(Arguments...)>;
    static ComPtr<Interface> Make(Function function) {
        return ComPtr<Interface>::Adopt(new Callback(std::move(function)));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, kIid)) {
            *object = static_cast<Interface*>(this);
            AddRef();
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
    HRESULT STDMETHODCALLTYPE Invoke(Arguments... arguments) override {
        try {
            return function_(arguments...);
        } catch (...) {
            std::terminate();
        }
    }

private:
    explicit Callback(Function function) : function_(std::move(function)) {}
    std::atomic<ULONG> references_{1};
    Function function_;
};

using EnvironmentCompleted =
    Callback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
             kIidEnvironmentCompletedHandler, HRESULT, ICoreWebView2Environment*>;
using ControllerCompleted =
    Callback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
             kIidControllerCompletedHandler, HRESULT, ICoreWebView2Controller*>;
using MessageReceived =
    Callback<ICoreWebView2WebMessageReceivedEventHandler, kIidWebMessageReceivedHandler,
             ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs*>;
using NewWindowRequested =
    Callback<ICoreWebView2NewWindowRequestedEventHandler, kIidNewWindowRequestedHandler,
             ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs*>;
using NavigationStarting =
    Callback<ICoreWebView2NavigationStartingEventHandler, kIidNavigationStartingHandler,
             ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*>;
using NavigationCompleted =
    Callback<ICoreWebView2NavigationCompletedEventHandler, kIidNavigationCompletedHandler,
             ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*>;
using ContentLoading = Callback<ICoreWebView2ContentLoadingEventHandler, kIidContentLoadingHandler,
                                ICoreWebView2*, IUnknown*>;

std::wstring UserDataFolder() {
    CoTaskPtr<PWSTR> local;
    if (FAILED(
            ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, local.Put())) ||
        !local.get())
        return {};
    return std::wstring(local.get()) + L"\\Tarvik\\WebView2";
}

// The window is the vendor's page and nothing else, as on the other platforms: no developer
// tools, no browser menu (Back, Reload, Save as, Print, Inspect), no link address at the bottom,
// no zoom (the page lays itself out for the window it sized), and none of the browser's keys
// (F5, Ctrl+P, Ctrl+F, F12, Alt+Left; editing keys such as Ctrl+C stay). The runtime's defaults
// offer all of these. The menu goes as a whole: keeping only its editing items, as the Linux
// view does, needs the newer context menu event; right-click in a text field offers nothing.
// A vendor inspecting the page keeps the developer tools and the menu with "Inspect".
void OfferThePageOnly(ICoreWebView2& view, bool inspect) {
    ComPtr<IUnknown> unknown;
    ComPtr<ICoreWebView2Settings> settings;
    if (FAILED(view.get_Settings(unknown.Put())) || !unknown ||
        FAILED(unknown->QueryInterface(kIidSettings, reinterpret_cast<void**>(settings.Put()))) ||
        !settings)
        return;
    settings->put_AreDevToolsEnabled(inspect ? TRUE : FALSE);
    settings->put_AreDefaultContextMenusEnabled(inspect ? TRUE : FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_IsZoomControlEnabled(FALSE);
    settings->put_AreHostObjectsAllowed(FALSE);
    ComPtr<ICoreWebView2Settings3> withKeys;
    if (SUCCEEDED(
            unknown->QueryInterface(kIidSettings3, reinterpret_cast<void**>(withKeys.Put()))) &&
        withKeys)
        withKeys->put_AreBrowserAcceleratorKeysEnabled(FALSE);
}

} // namespace

std::optional<std::string> WebViewUnavailable() {
    if (!Loader())
        return N_("WebView2Loader.dll was not found beside the program.");
    const auto version = LoaderFunction<GetAvailableBrowserVersionString>(
        "GetAvailableCoreWebView2BrowserVersionString");
    if (!version ||
        !LoaderFunction<CreateEnvironmentWithOptions>("CreateCoreWebView2EnvironmentWithOptions"))
        return N_("WebView2Loader.dll does not offer the functions this program needs.");
    LPWSTR found = nullptr;
    const HRESULT result = version(nullptr, &found);
    const std::string text = TakeString(found);
    if (FAILED(result) || text.empty())
        return N_("The WebView2 runtime is not installed.");
    return std::nullopt;
}

struct WebView::State {
    HWND window = nullptr;
    bool closed = false;
    std::function<void()> onReady;
    std::function<void(const std::string&)> onMessage;
    std::function<void(const std::string&)> onLeave;
    std::function<void()> onLoadFailed;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> view;
    // The origin of the host's page once its navigation committed; nothing before.
    std::optional<std::string> hostOrigin;
    bool awaitingHostCommit = false;
    // Only the outcome of the host's own navigation is a load failure.
    HostNavigation hostLoad;
    bool inspect = false;
    bool inspectorShown = false;

    bool LeavesThePage(const std::string& uri) const {
        // Until the host's own page has been committed, its navigation and its redirects are
        // free.
        if (awaitingHostCommit || !hostOrigin)
            return false;
        return OriginOf(uri) != hostOrigin;
    }
    void Leave(const std::string& uri) const {
        if (onLeave && !uri.empty())
            onLeave(uri);
    }
    void Fit() const {
        RECT client{};
        if (controller && window && ::GetClientRect(window, &client))
            controller->put_Bounds(client);
    }
};

WebView::WebView(HostWindow& window) : window_(window), state_(std::make_shared<State>()) {}

WebView::~WebView() {
    Close();
}

void WebView::Close() {
    State& state = *state_;
    if (state.closed)
        return;
    state.closed = true;
    state.onReady = nullptr;
    state.onMessage = nullptr;
    state.onLeave = nullptr;
    state.onLoadFailed = nullptr;
    if (state.controller)
        state.controller->Close();
    state.view.Reset();
    state.controller.Reset();
}

void WebView::Create(std::function<void()> onReady) {
    const auto create =
        LoaderFunction<CreateEnvironmentWithOptions>("CreateCoreWebView2EnvironmentWithOptions");
    State& state = *state_;
    if (!create || !window_.Handle() || state.closed)
        return;
    state.window = window_.Handle();
    state.onReady = std::move(onReady);
    window_.WhenDestroyed([this] { Close(); });

    const std::weak_ptr<State> weak = state_;
    const auto onController = [weak](HRESULT result, ICoreWebView2Controller* controller) {
        const std::shared_ptr<State> state = weak.lock();
        if (!state || state->closed || FAILED(result) || !controller)
            return S_OK;
        state->controller = ComPtr<ICoreWebView2Controller>::Share(controller);
        if (FAILED(controller->get_CoreWebView2(state->view.Put())) || !state->view)
            return S_OK;
        OfferThePageOnly(*state->view.get(), state->inspect);
        EventRegistrationToken token{};
        state->view->add_WebMessageReceived(
            MessageReceived::Make([weak](ICoreWebView2*,
                                         ICoreWebView2WebMessageReceivedEventArgs* args) {
                const std::shared_ptr<State> state = weak.lock();
                if (!state || state->closed || !args || !state->onMessage)
                    return S_OK;
                LPWSTR source = nullptr;
                if (FAILED(args->get_Source(&source)))
                    return S_OK;
                const std::string origin = TakeString(source);
                if (!state->hostOrigin || OriginOf(origin) != state->hostOrigin)
                    return S_OK;
                // Not a string: the page sent something else, which the host reads as empty.
                LPWSTR text = nullptr;
                std::string message = SUCCEEDED(args->TryGetWebMessageAsString(&text))
                                          ? TakeString(text)
                                          : std::string();
                state->onMessage(message);
                return S_OK;
            }).get(),
            &token);
        state->view->add_NewWindowRequested(
            NewWindowRequested::Make([weak](ICoreWebView2*,
                                            ICoreWebView2NewWindowRequestedEventArgs* args) {
                const std::shared_ptr<State> state = weak.lock();
                if (!args)
                    return S_OK;
                // Never a window of the runtime's own: the desktop decides what opens it.
                args->put_Handled(TRUE);
                LPWSTR uri = nullptr;
                if (state && !state->closed && SUCCEEDED(args->get_Uri(&uri)))
                    state->Leave(TakeString(uri));
                return S_OK;
            }).get(),
            &token);
        state->view->add_NavigationStarting(
            NavigationStarting::Make([weak](ICoreWebView2*,
                                            ICoreWebView2NavigationStartingEventArgs* args) {
                const std::shared_ptr<State> state = weak.lock();
                if (!state || state->closed || !args)
                    return S_OK;
                UINT64 id = 0;
                if (SUCCEEDED(args->get_NavigationId(&id)))
                    state->hostLoad.Started(id);
                LPWSTR uri = nullptr;
                if (FAILED(args->get_Uri(&uri)))
                    return S_OK;
                const std::string target = TakeString(uri);
                if (state->LeavesThePage(target)) {
                    args->put_Cancel(TRUE);
                    state->Leave(target);
                }
                return S_OK;
            }).get(),
            &token);
        // The runtime shows its own error page for a page it could not load (no connection, a
        // TLS error, no such host, a 4xx answer) and reports the navigation as unsuccessful; a
        // 5xx answer shows the server's page and only its status tells.
        state->view->add_NavigationCompleted(
            NavigationCompleted::Make([weak](ICoreWebView2*,
                                             ICoreWebView2NavigationCompletedEventArgs* args) {
                const std::shared_ptr<State> state = weak.lock();
                UINT64 id = 0;
                BOOL success = TRUE;
                int error = 0;
                if (!state || state->closed || !args || FAILED(args->get_NavigationId(&id)) ||
                    FAILED(args->get_IsSuccess(&success)) ||
                    FAILED(args->get_WebErrorStatus(&error)))
                    return S_OK;
                std::optional<int> httpStatus;
                ComPtr<ICoreWebView2NavigationCompletedEventArgs2> withStatus;
                int status = 0;
                if (SUCCEEDED(args->QueryInterface(kIidNavigationCompletedEventArgs2,
                                                   reinterpret_cast<void**>(withStatus.Put()))) &&
                    withStatus && SUCCEEDED(withStatus->get_HttpStatusCode(&status)) && status > 0)
                    httpStatus = status;
                if (state->hostLoad.Completed(id, success, error, httpStatus) ==
                        HostNavigation::End::kFailed &&
                    state->onLoadFailed)
                    state->onLoadFailed();
                return S_OK;
            }).get(),
            &token);
        state->view->add_ContentLoading(
            ContentLoading::Make([weak](ICoreWebView2* sender, IUnknown*) {
                const std::shared_ptr<State> state = weak.lock();
                if (!state || state->closed || !sender || !state->awaitingHostCommit)
                    return S_OK;
                LPWSTR source = nullptr;
                if (SUCCEEDED(sender->get_Source(&source))) {
                    state->awaitingHostCommit = false;
                    state->hostOrigin = OriginOf(TakeString(source));
                }
                // Opened once the page has a document, so that the tools show it from the start.
                if (state->inspect && !state->inspectorShown) {
                    state->inspectorShown = true;
                    sender->OpenDevToolsWindow();
                }
                return S_OK;
            }).get(),
            &token);
        state->Fit();
        controller->put_IsVisible(TRUE);
        std::function<void()> ready = std::move(state->onReady);
        if (ready)
            ready();
        return S_OK;
    };
    const auto onEnvironment = [weak, onController](HRESULT result,
                                                    ICoreWebView2Environment* environment) {
        const std::shared_ptr<State> state = weak.lock();
        if (!state || state->closed || FAILED(result) || !environment)
            return S_OK;
        environment->CreateCoreWebView2Controller(state->window,
                                                  ControllerCompleted::Make(onController).get());
        return S_OK;
    };
    const std::wstring userData = UserDataFolder();
    create(nullptr, userData.empty() ? nullptr : userData.c_str(), nullptr,
           EnvironmentCompleted::Make(onEnvironment).get());
}

void WebView::ShowInspector(bool on) {
    state_->inspect = on;
}

void WebView::FitToWindow() {
    state_->Fit();
}

void WebView::Navigate(const std::string& url) {
    State& state = *state_;
    // An address without an origin cannot be the host's page.
    if (!state.view || !OriginOf(url))
        return;
    state.hostOrigin.reset();
    state.awaitingHostCommit = true;
    state.hostLoad.Begin();
    state.view->Navigate(WideFromNarrow(url).c_str());
}

void WebView::SetMessageHandler(std::function<void(const std::string& text)> onMessage) {
    if (!state_->closed)
        state_->onMessage = std::move(onMessage);
}

void WebView::PostJson(const std::string& json) {
    // Delivered as data: the page's listeners get the parsed object, no script is built from it.
    if (state_->view)
        state_->view->PostWebMessageAsJson(WideFromNarrow(json).c_str());
}

void WebView::SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) {
    if (!state_->closed)
        state_->onLeave = std::move(onLeave);
}

void WebView::SetLoadFailureHandler(std::function<void()> onFailed) {
    if (!state_->closed)
        state_->onLoadFailed = std::move(onFailed);
}

void WebView::SetVisible(bool visible) {
    if (state_->controller)
        state_->controller->put_IsVisible(visible ? TRUE : FALSE);
}

} // namespace tarvik::platform::win32
