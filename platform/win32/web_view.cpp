#include "platform/win32/web_view.h"

#include "common/text_conversion.h"
#include "common/translation.h"
#include "platform/page_confinement.h"
#include "platform/win32/host_navigation.h"
#include "platform/win32/host_window.h"
#include "platform/win32/runtime_search.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <exception>
#include <utility>

namespace tarvik::platform::win32 {

using namespace webview2;

namespace {

// The runtime's library, loaded once for the process and never unloaded: the runtime's objects
// call into it until the process ends. Its own folder and the system's are the only places its
// dependencies are taken from.
CreateEnvironmentInternal RuntimeEntryPoint(const std::wstring& library) {
    static std::wstring loadedFrom;
    static CreateEnvironmentInternal entry = nullptr;
    if (entry && loadedFrom == library)
        return entry;
    const HMODULE module = ::LoadLibraryExW(
        library.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module)
        return nullptr;
    entry = reinterpret_cast<CreateEnvironmentInternal>(
        reinterpret_cast<void*>(::GetProcAddress(module, kCreateEnvironmentExport)));
    loadedFrom = entry ? library : std::wstring();
    return entry;
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
                                ICoreWebView2*, ICoreWebView2ContentLoadingEventArgs*>;
using PermissionRequested =
    Callback<ICoreWebView2PermissionRequestedEventHandler, kIidPermissionRequestedHandler,
             ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs*>;
using ProcessFailed = Callback<ICoreWebView2ProcessFailedEventHandler, kIidProcessFailedHandler,
                               ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs*>;

// The runtime keeps the user's data (cookies, caches, its own logs) in the local application data
// folder; nothing when that folder is unknown. Never the runtime's default, the program's own
// folder: that is usually Downloads, shared with whatever else the user downloaded, and may not be
// writable at all.
std::wstring UserDataFolder() {
    CoTaskPtr<PWSTR> local;
    if (FAILED(
            ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, local.Put())) ||
        !local.get() || !*local.get())
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
    const std::optional<FoundRuntime> runtime = FindRuntime(SystemRuntimeSources());
    if (!runtime)
        return N_("The WebView2 runtime is not installed.");
    if (!RuntimeEntryPoint(runtime->library))
        return N_("The installed WebView2 runtime could not be started.");
    return std::nullopt;
}

struct WebView::State {
    HostWindow* host = nullptr;
    HWND window = nullptr;
    bool closed = false;
    std::function<void()> onReady;
    std::function<void(const std::string&)> onMessage;
    std::function<void(const std::string&)> onLeave;
    std::function<void(const LoadFailure&)> onLoadFailed;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> view;
    // Which creation the runtime's callbacks belong to: those of a view given up (its browser
    // process died, or it was made again) find another number and do nothing.
    unsigned generation = 0;
    bool creating = false;
    // The host's page, asked for while there was no view; loaded once the view exists.
    std::optional<std::string> pendingUrl;
    // The host's latest page, loaded again in a view made again after its browser process died.
    std::string hostUrl;
    // What the host asked for, kept for a controller that comes later.
    bool visible = true;
    // Which documents may stay in the window and speak to the host: the shared page rule, told
    // what the runtime reports.
    PageConfinement confinement;
    // Only the outcome of the host's own navigation is a load failure.
    HostNavigation hostLoad;
    bool inspect = false;
    bool inspectorShown = false;

    // Whether the document the view shows now is the host's page.
    bool ShowsTheHostsPage() const {
        LPWSTR source = nullptr;
        return view && SUCCEEDED(view->get_Source(&source)) &&
               confinement.AcceptsMessagesFrom(TakeString(source));
    }
    void Fit() const {
        RECT client{};
        if (controller && window && ::GetClientRect(window, &client))
            controller->put_Bounds(client);
    }
    // Gives up the current view, if any: its callbacks are ignored from now on.
    void DropView() {
        ++generation;
        ComPtr<ICoreWebView2Controller> old = std::move(controller);
        view.Reset();
        // A view made again shows no page of the host's until the host's navigation commits.
        confinement = PageConfinement();
        if (old)
            old->Close();
    }
};

namespace {

using State = WebView::State;

// Runs `action` on the state from the window's loop, unless the view was closed meanwhile.
void Later(const std::shared_ptr<State>& state, std::function<void(State&)> action) {
    if (!state->host)
        return;
    const std::weak_ptr<State> weak = state;
    state->host->RunFromLoop([weak, action = std::move(action)] {
        if (const std::shared_ptr<State> alive = weak.lock(); alive && !alive->closed)
            action(*alive);
    });
}

void StartCreation(const std::shared_ptr<State>& state);

// Loads the host's page in the view that exists now.
void LoadHostPage(State& state, const std::string& url) {
    if (!state.confinement.BeginHostNavigation(url))
        return;
    state.hostUrl = url;
    state.hostLoad.Begin();
    state.view->Navigate(WideFromNarrow(url).c_str());
}

// The view could not be made: the first time the host is told that the view is there (so that it
// navigates, and learns of the failure as a failed load); after a navigation was asked for, that
// load failed.
void CreationFailed(const std::shared_ptr<State>& state) {
    state->DropView();
    state->creating = false;
    Later(state, [](State& state) {
        if (std::function<void()> ready = std::move(state.onReady)) {
            ready();
            return;
        }
        if (state.pendingUrl) {
            state.pendingUrl.reset();
            if (state.onLoadFailed)
                state.onLoadFailed(LoadFailure{});
        }
    });
}

// The runtime's events, each handled by copying what it says and acting on it from the loop: the
// runtime does not support being called again from inside its handlers, and the host's reactions
// include modal dialogs, the elevation prompt and the shell.
void Connect(const std::shared_ptr<State>& state, ICoreWebView2& view) {
    const std::weak_ptr<State> weak = state;
    const unsigned generation = state->generation;
    const auto current = [weak, generation]() -> std::shared_ptr<State> {
        std::shared_ptr<State> state = weak.lock();
        return state && !state->closed && state->generation == generation ? state : nullptr;
    };
    EventRegistrationToken token{};
    view.add_WebMessageReceived(
        MessageReceived::Make([current](ICoreWebView2*,
                                        ICoreWebView2WebMessageReceivedEventArgs* args) {
            const std::shared_ptr<State> state = current();
            if (!state || !args)
                return S_OK;
            LPWSTR source = nullptr;
            if (FAILED(args->get_Source(&source)))
                return S_OK;
            if (!state->confinement.AcceptsMessagesFrom(TakeString(source)))
                return S_OK;
            // Not a string: the page sent something else, which the host reads as empty.
            LPWSTR text = nullptr;
            std::string message =
                SUCCEEDED(args->TryGetWebMessageAsString(&text)) ? TakeString(text) : std::string();
            Later(state, [message = std::move(message)](State& state) {
                if (state.onMessage)
                    state.onMessage(message);
            });
            return S_OK;
        }).get(),
        &token);
    view.add_NewWindowRequested(
        NewWindowRequested::Make([current](ICoreWebView2*,
                                           ICoreWebView2NewWindowRequestedEventArgs* args) {
            if (!args)
                return S_OK;
            // Never a window of the runtime's own: the desktop decides what opens it, and only
            // when the user asked for it; a script opening windows by itself gets nothing.
            args->put_Handled(TRUE);
            const std::shared_ptr<State> state = current();
            BOOL byUser = FALSE;
            LPWSTR uri = nullptr;
            if (!state || FAILED(args->get_IsUserInitiated(&byUser)) || !byUser ||
                FAILED(args->get_Uri(&uri)))
                return S_OK;
            std::string target = TakeString(uri);
            Later(state, [target = std::move(target)](State& state) {
                if (state.onLeave && !target.empty())
                    state.onLeave(target);
            });
            return S_OK;
        }).get(),
        &token);
    view.add_NavigationStarting(
        NavigationStarting::Make([current](ICoreWebView2*,
                                           ICoreWebView2NavigationStartingEventArgs* args) {
            const std::shared_ptr<State> state = current();
            if (!state || !args)
                return S_OK;
            UINT64 id = 0;
            if (SUCCEEDED(args->get_NavigationId(&id)))
                state->hostLoad.Started(id);
            LPWSTR uri = nullptr;
            if (FAILED(args->get_Uri(&uri)))
                return S_OK;
            std::string target = TakeString(uri);
            if (state->confinement.LeavesThePage(target)) {
                args->put_Cancel(TRUE);
                Later(state, [target = std::move(target)](State& state) {
                    if (state.onLeave && !target.empty())
                        state.onLeave(target);
                });
            }
            return S_OK;
        }).get(),
        &token);
    // The runtime shows its own error page for a page it could not load (no connection, a TLS
    // error, no such host, a 4xx answer) and reports the navigation as unsuccessful; a 5xx answer
    // shows the server's page and only its status tells.
    view.add_NavigationCompleted(
        NavigationCompleted::Make([current](ICoreWebView2*,
                                            ICoreWebView2NavigationCompletedEventArgs* args) {
            const std::shared_ptr<State> state = current();
            UINT64 id = 0;
            BOOL success = TRUE;
            int error = 0;
            if (!state || !args || FAILED(args->get_NavigationId(&id)) ||
                FAILED(args->get_IsSuccess(&success)) || FAILED(args->get_WebErrorStatus(&error)))
                return S_OK;
            std::optional<int> httpStatus;
            ComPtr<ICoreWebView2NavigationCompletedEventArgs2> withStatus;
            int status = 0;
            if (SUCCEEDED(args->QueryInterface(kIidNavigationCompletedEventArgs2,
                                               reinterpret_cast<void**>(withStatus.Put()))) &&
                withStatus && SUCCEEDED(withStatus->get_HttpStatusCode(&status)) && status > 0)
                httpStatus = status;
            if (state->hostLoad.Completed(id, success, error, httpStatus) !=
                HostNavigation::End::kFailed)
                return S_OK;
            // Failed before its document: the runtime's error page, if shown, is no page of the
            // host's. (After a commit the rule has its origin and this changes nothing.)
            state->confinement.HostNavigationEnded();
            // The runtime's web error statuses for a refused certificate: 1 a name for another
            // host, 2 expired, 4 revoked, 5 otherwise invalid.
            const CertificateProblem certificate = error == 1   ? CertificateProblem::WrongHost
                                                   : error == 2 ? CertificateProblem::Expired
                                                   : (error == 4 || error == 5)
                                                       ? CertificateProblem::Untrusted
                                                       : CertificateProblem::None;
            const LoadFailure failure{httpStatus.value_or(0) >= 400 ? *httpStatus : 0, certificate};
            Later(state, [failure](State& state) {
                if (state.onLoadFailed)
                    state.onLoadFailed(failure);
            });
            return S_OK;
        }).get(),
        &token);
    view.add_ContentLoading(
        ContentLoading::Make([current](ICoreWebView2* sender,
                                       ICoreWebView2ContentLoadingEventArgs* args) {
            const std::shared_ptr<State> state = current();
            if (!state || !sender || !state->confinement.AwaitingHostCommit())
                return S_OK;
            // The runtime's error page for the host's failed navigation loads as a document too,
            // at the address that failed; it is no page of the host's, and the failure follows.
            BOOL errorPage = FALSE;
            if (args && SUCCEEDED(args->get_IsErrorPage(&errorPage)) && errorPage)
                return S_OK;
            LPWSTR source = nullptr;
            if (SUCCEEDED(sender->get_Source(&source)))
                state->confinement.Committed(TakeString(source));
            // Opened once the page has a document, so that the tools show it from the start.
            if (state->inspect && !state->inspectorShown) {
                state->inspectorShown = true;
                Later(state, [](State& state) {
                    if (state.view)
                        state.view->OpenDevToolsWindow();
                });
            }
            return S_OK;
        }).get(),
        &token);
    // The page gets none of the camera, microphone, location, notifications, sensors or the
    // clipboard, and the user is never asked: an installer's page has no use for them, and the
    // Linux view refuses them too.
    view.add_PermissionRequested(
        PermissionRequested::Make([](ICoreWebView2*,
                                     ICoreWebView2PermissionRequestedEventArgs* args) {
            if (args)
                args->put_State(kPermissionDeny);
            return S_OK;
        }).get(),
        &token);
    // Without its browser process the view is gone: it is made again and the host's page loaded
    // again. A renderer that ended or hangs leaves the view, which loads the page again.
    view.add_ProcessFailed(
        ProcessFailed::Make([current](ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
            const std::shared_ptr<State> state = current();
            int kind = -1;
            if (!state || !args || FAILED(args->get_ProcessFailedKind(&kind)))
                return S_OK;
            if (kind == kBrowserProcessExited) {
                const unsigned generation = state->generation;
                Later(state, [generation](State& state) {
                    if (state.generation != generation)
                        return;
                    if (!state.hostUrl.empty() && !state.pendingUrl)
                        state.pendingUrl = state.hostUrl;
                    state.DropView();
                });
                const std::weak_ptr<State> weak = state;
                state->host->RunFromLoop([weak] {
                    if (const std::shared_ptr<State> alive = weak.lock();
                        alive && !alive->closed && !alive->creating && !alive->view)
                        StartCreation(alive);
                });
            } else if (kind == kRenderProcessExited || kind == kRenderProcessUnresponsive) {
                const unsigned generation = state->generation;
                Later(state, [generation](State& state) {
                    if (state.generation == generation && state.view)
                        state.view->Reload();
                });
            }
            return S_OK;
        }).get(),
        &token);
}

// The controller has arrived: the view is set up, and the host told (the first time) or its
// page loaded (after a view was made again).
void ControllerReady(const std::shared_ptr<State>& state, ICoreWebView2Controller& controller) {
    state->controller = ComPtr<ICoreWebView2Controller>::Share(&controller);
    if (FAILED(controller.get_CoreWebView2(state->view.Put())) || !state->view) {
        CreationFailed(state);
        return;
    }
    state->creating = false;
    OfferThePageOnly(*state->view.get(), state->inspect);
    Connect(state, *state->view.get());
    state->Fit();
    // The host may have shown its built-in page meanwhile.
    controller.put_IsVisible(state->visible ? TRUE : FALSE);
    const unsigned generation = state->generation;
    Later(state, [generation](State& state) {
        if (state.generation != generation)
            return;
        if (std::function<void()> ready = std::move(state.onReady))
            ready();
        if (state.pendingUrl && state.view) {
            const std::string url = std::move(*state.pendingUrl);
            state.pendingUrl.reset();
            LoadHostPage(state, url);
        }
    });
}

void StartCreation(const std::shared_ptr<State>& state) {
    state->DropView();
    state->creating = true;
    const unsigned generation = state->generation;
    const std::weak_ptr<State> weak = state;
    const auto current = [weak, generation]() -> std::shared_ptr<State> {
        std::shared_ptr<State> state = weak.lock();
        return state && !state->closed && state->generation == generation ? state : nullptr;
    };
    const auto onController = [current](HRESULT result, ICoreWebView2Controller* controller) {
        const std::shared_ptr<State> state = current();
        if (!state)
            return S_OK;
        if (FAILED(result) || !controller)
            CreationFailed(state);
        else
            ControllerReady(state, *controller);
        return S_OK;
    };
    const auto onEnvironment = [current, onController](HRESULT result,
                                                       ICoreWebView2Environment* environment) {
        const std::shared_ptr<State> state = current();
        if (!state)
            return S_OK;
        if (FAILED(result) || !environment ||
            FAILED(environment->CreateCoreWebView2Controller(
                state->window, ControllerCompleted::Make(onController).get())))
            CreationFailed(state);
        return S_OK;
    };
    const std::wstring userData = UserDataFolder();
    const std::optional<FoundRuntime> runtime = FindRuntime(SystemRuntimeSources());
    const CreateEnvironmentInternal create =
        runtime ? RuntimeEntryPoint(runtime->library) : nullptr;
    // A failure reported at once is as final as one reported through the handler.
    if (userData.empty() || !create ||
        FAILED(create(true, runtime->runtimeType, userData.c_str(), nullptr,
                      EnvironmentCompleted::Make(onEnvironment).get())))
        CreationFailed(state);
}

} // namespace

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
    state.DropView();
    state.host = nullptr;
}

void WebView::Create(std::function<void()> onReady) {
    State& state = *state_;
    if (!window_.Handle() || state.closed || state.host)
        return;
    state.host = &window_;
    state.window = window_.Handle();
    state.onReady = std::move(onReady);
    window_.WhenDestroyed([this] { Close(); });
    window_.WhenMoved([state = state_] {
        if (state->controller)
            state->controller->NotifyParentWindowPositionChanged();
    });
    // The keyboard goes on into the page, which the runtime's own window holds.
    window_.WhenFocused([state = state_] {
        if (state->controller && state->visible)
            state->controller->MoveFocus(kMoveFocusProgrammatic);
    });
    StartCreation(state_);
}

void WebView::ShowInspector(bool on) {
    state_->inspect = on;
}

void WebView::FitToWindow() {
    state_->Fit();
}

void WebView::Navigate(const std::string& url) {
    State& state = *state_;
    // An address without an origin cannot be the host's page, and loads nothing.
    if (state.closed || !state.host || !state.confinement.BeginHostNavigation(url))
        return;
    if (state.view) {
        LoadHostPage(state, url);
        return;
    }
    // No view: one is being made, or the last attempt failed and this one makes it again.
    state.pendingUrl = url;
    if (!state.creating)
        StartCreation(state_);
}

void WebView::SetMessageHandler(std::function<void(const std::string& text)> onMessage) {
    if (!state_->closed)
        state_->onMessage = std::move(onMessage);
}

void WebView::PostJson(const std::string& json) {
    // Delivered as data: the page's listeners get the parsed object, no script is built from it.
    // Only to the host's page: the view may show another document by now (the host's next
    // navigation, or one of the page's own), which must not read the host's notices.
    if (state_->ShowsTheHostsPage())
        state_->view->PostWebMessageAsJson(WideFromNarrow(json).c_str());
}

void WebView::SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) {
    if (!state_->closed)
        state_->onLeave = std::move(onLeave);
}

void WebView::SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) {
    if (!state_->closed)
        state_->onLoadFailed = std::move(onFailed);
}

void WebView::SetVisible(bool visible) {
    state_->visible = visible;
    if (state_->controller)
        state_->controller->put_IsVisible(visible ? TRUE : FALSE);
}

} // namespace tarvik::platform::win32
