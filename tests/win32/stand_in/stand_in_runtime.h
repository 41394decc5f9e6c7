#pragma once

// A stand-in for the system web view's runtime library (EmbeddedBrowserWebView.dll), for tests
// only: it offers the runtime's entry point and the environment, controller and view interfaces
// the host uses, records what the host asks of them, and lets a test raise the runtime's events.
// Built as a DLL of its own and found by the host the way the real runtime is found.
//
// Nothing is real: no page loads, no script runs. A navigation the host asks for is only
// recorded; the test then plays the runtime's part (StartNavigation, Commit, Complete), and the
// view's source is what the last commit made it.
//
// Threads: the user-interface thread of the test, as the runtime's own objects. The environment
// and controller are delivered later, from that thread's message loop, as the runtime does.

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tarvik::tests::stand_in {

class Control {
public:
    // Forgets the records and scripted failures and gives up the view, as a fresh runtime.
    virtual void Reset() = 0;

    // The next creation fails: the entry point answers `atOnce` (when a failure), else the
    // environment arrives with `later` (when a failure).
    virtual void FailNextEnvironment(HRESULT atOnce, HRESULT later) = 0;
    virtual void FailNextController(HRESULT later) = 0;
    // The next controller has no view to give (get_CoreWebView2 fails).
    virtual void FailNextWebView() = 0;

    // What the host did, one line each, in order: "environment <check> <type> <user data>",
    // "controller", "settings <member> <value>", "bounds <l> <t> <r> <b>", "visible <0|1>",
    // "focus <reason>", "moved", "navigate <uri>", "post <json>", "reload", "devtools",
    // "close".
    virtual size_t RecordCount() const = 0;
    virtual const wchar_t* Record(size_t index) const = 0;
    virtual void ClearRecords() = 0;

    // Whether a view exists (made, not closed), and its window inside the host window.
    virtual bool HasView() const = 0;
    virtual HWND ViewWindow() const = 0;
    // How many environments the host has asked for.
    virtual int Creations() const = 0;

    // The runtime's events, raised at once on the calling thread.
    // A top-level navigation starts; answers its number, and whether the host cancelled it.
    virtual uint64_t StartNavigation(const wchar_t* uri, bool userInitiated, bool redirect,
                                     uint64_t id, bool* cancelled) = 0;
    // The navigation's document starts loading: the view's source becomes its address. The
    // runtime's own error page for a navigation that failed starts loading in the same way.
    virtual void Commit(const wchar_t* uri, bool errorPage = false) = 0;
    virtual void Complete(uint64_t id, bool success, int webErrorStatus, int httpStatus) = 0;
    // A message from the top document; `text` null for one that is not a string.
    virtual void Message(const wchar_t* source, const wchar_t* text) = 0;
    // Answers whether the host handled it (no window of the runtime's own).
    virtual bool NewWindow(const wchar_t* uri, bool userInitiated) = 0;
    // Answers the state the host left (0 default, 1 allow, 2 deny).
    virtual int Permission(int kind, const wchar_t* uri) = 0;
    virtual void ProcessFailed(int kind) = 0;

protected:
    ~Control() = default;
};

// The DLL's export that hands the test its control.
using ControlFunction = Control*(__cdecl*)();
inline constexpr char kControlExport[] = "TarvikStandInControl";

} // namespace tarvik::tests::stand_in
