#pragma once

#include "app/tarvik_dlg.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/headless_system.h"
#include "support/loopback_server.h"
#include "support/stall_gate.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik::testing {

// A host window on the headless platform, with a loopback service that answers the product info
// request and records every event report, and a temporary folder for config.ini and downloads.
class HostFixture : public ::testing::Test {
protected:
    HostFixture();
    ~HostFixture() override;

    // Runs the host's start-up as the dialog would: window creation, initialisation, and the web
    // view becoming ready from the message loop; then, unless told not to, waits for the
    // service's answer.
    enum class InfoAnswer { Awaited, NotAwaited };
    void StartHost(InfoAnswer wait = InfoAnswer::Awaited);
    // Delivers a page message and handles what it posted.
    void Send(const std::string& utf8Message);

    // Takes the download to `state` by the page's own road on the fixture's installer server:
    // Running is a silent download that stalls, Finished one that completed. Idle does nothing.
    void ReachDownloadState(DownloadState state);
    std::string InstallerUrl(const std::string& name) const;

    std::vector<std::string> Notices() const;
    std::vector<std::string> Events();

    // Removed last, after the host and the service are gone.
    TempFolder temp;
    const std::filesystem::path& folder = temp.path();
    platform::headless::HeadlessPlatform platform;
    LoopbackServer service;
    // A usable answer unless a test says otherwise.
    std::string infoAnswer =
        R"({"code":200,"data":{"name":"Demo App","url1":"https://vendor.example/page"}})";
    // The info answer's HTTP status, and whether the info answer waits for `infoGate`.
    std::atomic<int> infoStatus{200};
    std::atomic<bool> holdInfo{false};
    StallGate infoGate;
    std::atomic<int> infoRequests{0};
    // How long the service takes to answer each event report, and whether it waits for
    // `eventGate` first.
    std::atomic<int> eventDelayMs{0};
    std::atomic<bool> holdEvents{false};
    StallGate eventGate;
    // The fixture's installers: /files/Setup.exe answers kInstallerBody, /files/stall.exe sends
    // nothing until the test ends, /files/missing.exe answers 404. While `holdAnswers` is set,
    // Setup.exe and missing.exe answer only once `answerGate` opens.
    static constexpr const char* kInstallerBody = "#!/bin/sh\necho installed\n";
    std::atomic<bool> holdAnswers{false};
    StallGate answerGate;
    std::atomic<bool> releaseStalls{false};
    HostOptions options;
    std::unique_ptr<CTarvikDlg> host;

    // What the service has been sent, without waiting for the host's sender.
    std::mutex eventsMutex_;
    std::vector<std::string> events_;
};

} // namespace tarvik::testing
