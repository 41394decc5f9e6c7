// The web view interfaces as this program declares them, against the runtime's published
// interface definition (tests/win32/data/web_view2_slots.tsv): a member in the wrong slot calls
// another member of the runtime's object, and a wrong id finds no interface at all. Every
// declared member must have its row and sit in that row's slot; every interface id must match.
#include "platform/win32/web_view2_interfaces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::platform::win32::webview2 {
namespace {

// The slot of a virtual member in its class's virtual table, from its member pointer: MinGW's GCC
// follows the Itanium C++ ABI, where such a pointer holds 1 + the member's byte offset in the
// table.
template <typename Member> size_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t words[2] = {};
    std::memcpy(words, &member, sizeof member);
    EXPECT_EQ(words[0] % sizeof(void*), 1u) << "not a virtual member";
    return (words[0] - 1) / sizeof(void*);
}

struct Declared {
    std::string interfaceName;
    std::string member;
    size_t slot;
};

#define TARVIK_SLOT(Interface, Member)                                                             \
    Declared {                                                                                     \
#Interface, #Member, SlotOf(&Interface::Member)                                            \
    }

std::vector<Declared> DeclaredMembers() {
    return {
        TARVIK_SLOT(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2WebMessageReceivedEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2NavigationCompletedEventArgs, get_IsSuccess),
        TARVIK_SLOT(ICoreWebView2NavigationCompletedEventArgs, get_WebErrorStatus),
        TARVIK_SLOT(ICoreWebView2NavigationCompletedEventArgs, get_NavigationId),
        TARVIK_SLOT(ICoreWebView2NavigationCompletedEventArgs2, get_HttpStatusCode),
        TARVIK_SLOT(ICoreWebView2NavigationCompletedEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2ContentLoadingEventArgs, get_IsErrorPage),
        TARVIK_SLOT(ICoreWebView2ContentLoadingEventArgs, get_NavigationId),
        TARVIK_SLOT(ICoreWebView2ContentLoadingEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2Environment, CreateCoreWebView2Controller),
        TARVIK_SLOT(ICoreWebView2Controller, get_IsVisible),
        TARVIK_SLOT(ICoreWebView2Controller, put_IsVisible),
        TARVIK_SLOT(ICoreWebView2Controller, get_Bounds),
        TARVIK_SLOT(ICoreWebView2Controller, put_Bounds),
        TARVIK_SLOT(ICoreWebView2Controller, get_ZoomFactor),
        TARVIK_SLOT(ICoreWebView2Controller, put_ZoomFactor),
        TARVIK_SLOT(ICoreWebView2Controller, add_ZoomFactorChanged),
        TARVIK_SLOT(ICoreWebView2Controller, remove_ZoomFactorChanged),
        TARVIK_SLOT(ICoreWebView2Controller, SetBoundsAndZoomFactor),
        TARVIK_SLOT(ICoreWebView2Controller, MoveFocus),
        TARVIK_SLOT(ICoreWebView2Controller, add_MoveFocusRequested),
        TARVIK_SLOT(ICoreWebView2Controller, remove_MoveFocusRequested),
        TARVIK_SLOT(ICoreWebView2Controller, add_GotFocus),
        TARVIK_SLOT(ICoreWebView2Controller, remove_GotFocus),
        TARVIK_SLOT(ICoreWebView2Controller, add_LostFocus),
        TARVIK_SLOT(ICoreWebView2Controller, remove_LostFocus),
        TARVIK_SLOT(ICoreWebView2Controller, add_AcceleratorKeyPressed),
        TARVIK_SLOT(ICoreWebView2Controller, remove_AcceleratorKeyPressed),
        TARVIK_SLOT(ICoreWebView2Controller, get_ParentWindow),
        TARVIK_SLOT(ICoreWebView2Controller, put_ParentWindow),
        TARVIK_SLOT(ICoreWebView2Controller, NotifyParentWindowPositionChanged),
        TARVIK_SLOT(ICoreWebView2Controller, Close),
        TARVIK_SLOT(ICoreWebView2Controller, get_CoreWebView2),
        TARVIK_SLOT(ICoreWebView2Settings, get_IsScriptEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_IsScriptEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_IsWebMessageEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_IsWebMessageEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_AreDefaultScriptDialogsEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_AreDefaultScriptDialogsEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_IsStatusBarEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_IsStatusBarEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_AreDevToolsEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_AreDevToolsEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_AreDefaultContextMenusEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_AreDefaultContextMenusEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_AreHostObjectsAllowed),
        TARVIK_SLOT(ICoreWebView2Settings, put_AreHostObjectsAllowed),
        TARVIK_SLOT(ICoreWebView2Settings, get_IsZoomControlEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_IsZoomControlEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, get_IsBuiltInErrorPageEnabled),
        TARVIK_SLOT(ICoreWebView2Settings, put_IsBuiltInErrorPageEnabled),
        TARVIK_SLOT(ICoreWebView2Settings2, get_UserAgent),
        TARVIK_SLOT(ICoreWebView2Settings2, put_UserAgent),
        TARVIK_SLOT(ICoreWebView2Settings3, get_AreBrowserAcceleratorKeysEnabled),
        TARVIK_SLOT(ICoreWebView2Settings3, put_AreBrowserAcceleratorKeysEnabled),
        TARVIK_SLOT(ICoreWebView2, get_Settings),
        TARVIK_SLOT(ICoreWebView2, get_Source),
        TARVIK_SLOT(ICoreWebView2, Navigate),
        TARVIK_SLOT(ICoreWebView2, NavigateToString),
        TARVIK_SLOT(ICoreWebView2, add_NavigationStarting),
        TARVIK_SLOT(ICoreWebView2, remove_NavigationStarting),
        TARVIK_SLOT(ICoreWebView2, add_ContentLoading),
        TARVIK_SLOT(ICoreWebView2, remove_ContentLoading),
        TARVIK_SLOT(ICoreWebView2, add_SourceChanged),
        TARVIK_SLOT(ICoreWebView2, remove_SourceChanged),
        TARVIK_SLOT(ICoreWebView2, add_HistoryChanged),
        TARVIK_SLOT(ICoreWebView2, remove_HistoryChanged),
        TARVIK_SLOT(ICoreWebView2, add_NavigationCompleted),
        TARVIK_SLOT(ICoreWebView2, remove_NavigationCompleted),
        TARVIK_SLOT(ICoreWebView2, add_FrameNavigationStarting),
        TARVIK_SLOT(ICoreWebView2, remove_FrameNavigationStarting),
        TARVIK_SLOT(ICoreWebView2, add_FrameNavigationCompleted),
        TARVIK_SLOT(ICoreWebView2, remove_FrameNavigationCompleted),
        TARVIK_SLOT(ICoreWebView2, add_ScriptDialogOpening),
        TARVIK_SLOT(ICoreWebView2, remove_ScriptDialogOpening),
        TARVIK_SLOT(ICoreWebView2, add_PermissionRequested),
        TARVIK_SLOT(ICoreWebView2, remove_PermissionRequested),
        TARVIK_SLOT(ICoreWebView2, add_ProcessFailed),
        TARVIK_SLOT(ICoreWebView2, remove_ProcessFailed),
        TARVIK_SLOT(ICoreWebView2, AddScriptToExecuteOnDocumentCreated),
        TARVIK_SLOT(ICoreWebView2, RemoveScriptToExecuteOnDocumentCreated),
        TARVIK_SLOT(ICoreWebView2, ExecuteScript),
        TARVIK_SLOT(ICoreWebView2, CapturePreview),
        TARVIK_SLOT(ICoreWebView2, Reload),
        TARVIK_SLOT(ICoreWebView2, PostWebMessageAsJson),
        TARVIK_SLOT(ICoreWebView2, PostWebMessageAsString),
        TARVIK_SLOT(ICoreWebView2, add_WebMessageReceived),
        TARVIK_SLOT(ICoreWebView2, remove_WebMessageReceived),
        TARVIK_SLOT(ICoreWebView2, CallDevToolsProtocolMethod),
        TARVIK_SLOT(ICoreWebView2, get_BrowserProcessId),
        TARVIK_SLOT(ICoreWebView2, get_CanGoBack),
        TARVIK_SLOT(ICoreWebView2, get_CanGoForward),
        TARVIK_SLOT(ICoreWebView2, GoBack),
        TARVIK_SLOT(ICoreWebView2, GoForward),
        TARVIK_SLOT(ICoreWebView2, GetDevToolsProtocolEventReceiver),
        TARVIK_SLOT(ICoreWebView2, Stop),
        TARVIK_SLOT(ICoreWebView2, add_NewWindowRequested),
        TARVIK_SLOT(ICoreWebView2, remove_NewWindowRequested),
        TARVIK_SLOT(ICoreWebView2, add_DocumentTitleChanged),
        TARVIK_SLOT(ICoreWebView2, remove_DocumentTitleChanged),
        TARVIK_SLOT(ICoreWebView2, get_DocumentTitle),
        TARVIK_SLOT(ICoreWebView2, AddHostObjectToScript),
        TARVIK_SLOT(ICoreWebView2, RemoveHostObjectFromScript),
        TARVIK_SLOT(ICoreWebView2, OpenDevToolsWindow),
        TARVIK_SLOT(ICoreWebView2WebMessageReceivedEventArgs, get_Source),
        TARVIK_SLOT(ICoreWebView2WebMessageReceivedEventArgs, get_WebMessageAsJson),
        TARVIK_SLOT(ICoreWebView2WebMessageReceivedEventArgs, TryGetWebMessageAsString),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, get_Uri),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, put_NewWindow),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, get_NewWindow),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, put_Handled),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, get_Handled),
        TARVIK_SLOT(ICoreWebView2NewWindowRequestedEventArgs, get_IsUserInitiated),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_Uri),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_IsUserInitiated),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_IsRedirected),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_RequestHeaders),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_Cancel),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, put_Cancel),
        TARVIK_SLOT(ICoreWebView2NavigationStartingEventArgs, get_NavigationId),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventArgs, get_Uri),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventArgs, get_PermissionKind),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventArgs, get_IsUserInitiated),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventArgs, get_State),
        TARVIK_SLOT(ICoreWebView2PermissionRequestedEventArgs, put_State),
        TARVIK_SLOT(ICoreWebView2ProcessFailedEventHandler, Invoke),
        TARVIK_SLOT(ICoreWebView2ProcessFailedEventArgs, get_ProcessFailedKind),
    };
}

#undef TARVIK_SLOT

std::string TextOf(const IID& iid) {
    char text[40] = {};
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(iid.Data1), iid.Data2, iid.Data3, iid.Data4[0],
                  iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4], iid.Data4[5],
                  iid.Data4[6], iid.Data4[7]);
    return text;
}

std::vector<std::pair<std::string, IID>> DeclaredIds() {
    return {
        {"ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler",
         kIidEnvironmentCompletedHandler},
        {"ICoreWebView2CreateCoreWebView2ControllerCompletedHandler",
         kIidControllerCompletedHandler},
        {"ICoreWebView2WebMessageReceivedEventHandler", kIidWebMessageReceivedHandler},
        {"ICoreWebView2NewWindowRequestedEventHandler", kIidNewWindowRequestedHandler},
        {"ICoreWebView2NavigationStartingEventHandler", kIidNavigationStartingHandler},
        {"ICoreWebView2NavigationCompletedEventArgs", kIidNavigationCompletedEventArgs},
        {"ICoreWebView2NavigationCompletedEventArgs2", kIidNavigationCompletedEventArgs2},
        {"ICoreWebView2NavigationCompletedEventHandler", kIidNavigationCompletedHandler},
        {"ICoreWebView2ContentLoadingEventArgs", kIidContentLoadingEventArgs},
        {"ICoreWebView2ContentLoadingEventHandler", kIidContentLoadingHandler},
        {"ICoreWebView2Environment", kIidEnvironment},
        {"ICoreWebView2Controller", kIidController},
        {"ICoreWebView2Settings", kIidSettings},
        {"ICoreWebView2Settings2", kIidSettings2},
        {"ICoreWebView2Settings3", kIidSettings3},
        {"ICoreWebView2", kIidWebView},
        {"ICoreWebView2WebMessageReceivedEventArgs", kIidWebMessageReceivedEventArgs},
        {"ICoreWebView2NewWindowRequestedEventArgs", kIidNewWindowRequestedEventArgs},
        {"ICoreWebView2NavigationStartingEventArgs", kIidNavigationStartingEventArgs},
        {"ICoreWebView2PermissionRequestedEventHandler", kIidPermissionRequestedHandler},
        {"ICoreWebView2PermissionRequestedEventArgs", kIidPermissionRequestedEventArgs},
        {"ICoreWebView2ProcessFailedEventHandler", kIidProcessFailedHandler},
        {"ICoreWebView2ProcessFailedEventArgs", kIidProcessFailedEventArgs},
    };
}

struct Published {
    std::string id;
    size_t slot;
};

// interface -> member -> its published id and slot.
std::map<std::string, std::map<std::string, Published>> ReadPublished() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path path =
        std::filesystem::path(self).parent_path() / TARVIK_SLOTS_FROM_TEST;
    std::ifstream in(path);
    EXPECT_TRUE(in) << path.string();
    std::map<std::string, std::map<std::string, Published>> published;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string interfaceName, id, slot, member;
        std::getline(fields, interfaceName, '\t');
        std::getline(fields, id, '\t');
        std::getline(fields, slot, '\t');
        std::getline(fields, member, '\t');
        published[interfaceName][member] = Published{id, std::stoul(slot)};
    }
    return published;
}

TEST(WebView2Interfaces, EveryDeclaredMemberSitsInItsPublishedSlot) {
    const auto published = ReadPublished();
    ASSERT_FALSE(published.empty());
    std::map<std::string, std::map<std::string, bool>> seen;
    for (const Declared& declared : DeclaredMembers()) {
        const auto interfaceFound = published.find(declared.interfaceName);
        ASSERT_NE(interfaceFound, published.end()) << declared.interfaceName << " is not listed";
        const auto memberFound = interfaceFound->second.find(declared.member);
        ASSERT_NE(memberFound, interfaceFound->second.end())
            << declared.interfaceName << "::" << declared.member << " is not listed";
        EXPECT_EQ(declared.slot, memberFound->second.slot)
            << declared.interfaceName << "::" << declared.member;
        seen[declared.interfaceName][declared.member] = true;
    }
    // And every listed member is declared: a row without a member is a member lost.
    for (const auto& [interfaceName, members] : published)
        for (const auto& [member, facts] : members)
            EXPECT_TRUE(seen[interfaceName][member])
                << interfaceName << "::" << member << " is listed but not declared";
}

TEST(WebView2Interfaces, EveryInterfaceIdIsThePublishedOne) {
    const auto published = ReadPublished();
    std::map<std::string, bool> checked;
    for (const auto& [interfaceName, iid] : DeclaredIds()) {
        const auto found = published.find(interfaceName);
        ASSERT_NE(found, published.end()) << interfaceName << " is not listed";
        ASSERT_FALSE(found->second.empty());
        EXPECT_EQ(TextOf(iid), found->second.begin()->second.id) << interfaceName;
        checked[interfaceName] = true;
    }
    for (const auto& [interfaceName, members] : published)
        EXPECT_TRUE(checked[interfaceName]) << interfaceName << " has no id declared";
}

} // namespace
} // namespace tarvik::platform::win32::webview2
