#pragma once

#include "common/download_failure.h"
#include "common/download_state.h"
#include "common/host_message.h"
#include "common/installer_start.h"
#include "common/translation.h"
#include "download/minisign.h"
#include "download/partial_download.h"
#include "download/progress_figures.h"
#include "download/sha256.h"
#include "download/transfer_limits.h"
#include "download/transfer_workers.h"
#include "platform/desktop.h"
#include "platform/system.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tarvik::download {

class TransferJob;

// What the download session tells its owner, in the order the page is to hear it.
// The download has started; `repeated` when the page only asked again while it runs.
struct Started {
    bool repeated = false;
    bool operator==(const Started&) const = default;
};
struct Progress {
    ProgressFigures figures; // the total is always greater than 0
    bool operator==(const Progress&) const = default;
};
// The file is complete under `path` (UTF-8); `repeated` when the page only asked again after the
// end, which is no news for the user.
struct Finished {
    std::string path;
    bool repeated = false;
    bool operator==(const Finished&) const = default;
};
struct Failed {
    DownloadFailure reason = DownloadFailure::Network;
    bool operator==(const Failed&) const = default;
};
// Where the download is saved: the file's name and the name of its folder as the user knows it
// (never the whole path, which is no business of web content). Told right after the start, and
// again before the end when the file got another name (a silent download numbered past a file
// that appeared meanwhile).
struct SavedAs {
    std::string fileName;
    std::string folderName;
    bool operator==(const SavedAs&) const = default;
};
// Bytes so far of a download whose length the server did not give.
struct Received {
    uint64_t bytes = 0;
    bool operator==(const Received&) const = default;
};
// The transfer lost its connection and connects again; `attempt` counts these in the download,
// 1 for the first.
struct Reconnecting {
    uint64_t attempt = 0;
    bool operator==(const Reconnecting&) const = default;
};
// How the page's "install" ended: the installer was started, or why not.
struct Launched {
    InstallerStart outcome = InstallerStart::Started;
    bool operator==(const Launched&) const = default;
};
using SessionEvent =
    std::variant<Started, Progress, Finished, Failed, SavedAs, Received, Reconnecting, Launched>;

// What the page asked to download.
struct DownloadRequest {
    std::string url; // UTF-8
    bool silent = false;
    std::optional<Sha256Digest> sha256;
    // The text of the installer's minisign signature file, when the page gave it.
    std::optional<std::string> minisig;
};

// The installer download of one program run: its whole state and every rule about it, in one
// place. It asks where to save, starts and stops the transfer, keeps what a failed transfer
// left for the page's retry, handles the worker's messages, and launches and reveals the file
// this run completed. It tells its owner what happened through typed events; it knows neither
// the page's JSON nor the window.
//
// Each transfer gets a new generation, which every message about it carries (in lParam), so a
// message still queued from a transfer that was cancelled or replaced is recognised and dropped.
//
// Threads: user-interface thread only, like the desktop it uses. The transfer's worker reaches it
// only through `post`, which must be safe from any thread and queue the message for
// OnHostMessage on the user-interface thread. No member waits for a worker but
// WaitForWorkers and the destructor. `system` and `desktop` must outlive it.
class DownloadSession {
public:
    using Post = std::function<void(const HostMessage&)>;
    using Listener = std::function<void(const SessionEvent&)>;

    DownloadSession(platform::System& system, platform::Desktop& desktop, const Catalogue& texts,
                    TransferLimits limits, Post post, Listener listener);
    // Stops a transfer still running and deletes what it and a kept part left, then waits for a
    // worker still stopping (see TransferWorkers), so that none outlives `system`.
    ~DownloadSession();
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // The program ends: a transfer still running stops and nothing more is told; its file and a
    // kept part are deleted. Waits for nothing.
    void End();
    // Waits until every transfer worker has ended or `deadline` has passed; true when none is
    // left. A stopped worker ends quickly, but one inside a commit's sync to disk or a proxy
    // lookup cannot be interrupted.
    bool WaitForWorkers(std::chrono::steady_clock::time_point deadline);

    // The limits of the transfers started from now on.
    void SetLimits(const TransferLimits& limits);
    // From now on a download is finished only when its minisign signature by `key` holds (see
    // TransferJob::RequireSignature); nothing: the built-in key is unusable, and none is.
    void RequireSignatures(std::optional<MinisignKey> key);
    // From now on every download must carry a code signature the system accepts, by
    // `publisher` (TransferJob::RequirePublisher); empty: none is asked for.
    void RequirePublisher(std::string publisher);

    // The page asked for a download. While one runs its start is told again; after one finished,
    // its end (without news for the user); while one is being set up (its save dialog is open,
    // or its start is not handled yet), nothing. Otherwise the file goes silently into the
    // Downloads folder, never over an existing file, or where the user chooses.
    void Request(const DownloadRequest& request);
    // The page asked for the download without saying what: only the current notice is repeated.
    void AskState();
    // Stops the download that runs or is being started, and tells it as failed with the reason
    // "cancelled". Nothing once the transfer is past the point where it can be stopped: its
    // outcome is on its way.
    void Cancel();
    // Starts the installer this run completed and tells how that ended (Launched); when it cannot
    // be started, the failure box with the reason and where the file is, and then the file in
    // its folder. Nothing while an earlier start still waits for its outcome (its authorisation
    // prompt is open): a second Enter must not start the installer twice.
    void Launch();
    // Shows the file this run completed; otherwise the folder a download goes to, or the
    // Downloads folder.
    void Reveal();

    // The messages of the session's own and of its workers: WM_DNLD_START, WM_DL_PROGRESS,
    // WM_DL_RETRY, WM_DNLD_FINISHED and WM_DNLD_FAILED. False for any other message.
    bool OnHostMessage(const HostMessage& message);

    DownloadState state() const { return state_; }
    // The file the download is (or was last) saved to, UTF-8; empty when it stands for no file.
    const std::string& filePath() const { return filePath_; }

private:
    void Start(const DownloadRequest& request);
    // Where the download goes: the Downloads folder for a silent one, else the user's choice.
    // Nothing when the user cancelled the save dialog or cancelled the download meanwhile.
    std::optional<std::string> ChooseTarget(const std::string& fileName, bool silent);
    void OnStart(const HostMessage& message);
    void OnProgress();
    void OnFinished();
    void OnFailed(DownloadFailure reason);
    void EndAsFailed(DownloadFailure reason);
    void OnLaunched(InstallerStart outcome);
    void ShowLaunchFailure(InstallerStart reason);
    // Tells the page where the file goes, when that is news.
    void TellSavedAs(const std::string& path);
    void Tell(const SessionEvent& event) const;

    platform::System& system_;
    platform::Desktop& desktop_;
    const Catalogue& texts_;
    TransferLimits limits_;
    Post post_;
    Listener listener_;

    std::string url_;
    std::string filePath_;
    // Where the user last saved an installer with the save dialog; the next dialog opens there.
    std::string lastSaveFolder_;
    std::optional<Sha256Digest> expectedSha256_;
    std::optional<std::string> minisig_;
    bool signaturesRequired_ = false;
    std::optional<MinisignKey> installerKey_;
    std::string publisher_;
    DownloadState state_ = DownloadState::Idle;
    // A download start has been posted but its start message is not handled yet (or its save
    // dialog is still open); further requests are dropped meanwhile.
    bool starting_ = false;
    // The save dialog is open.
    bool choosing_ = false;
    // An installer start waits for its outcome.
    bool launching_ = false;
    // The path the page was last told about (SavedAs), so that only a change is told again.
    std::string toldPath_;
    // The page cancelled the download while its save dialog was open: whatever the user chooses
    // there starts nothing.
    bool startAbandoned_ = false;
    // The generation of the current transfer; 0 before the first. Messages of any other are stale.
    uint64_t generation_ = 0;
    // Where the transfers' workers run; it outlives every job (declared before them).
    TransferWorkers workers_;
    std::unique_ptr<TransferJob> transfer_;
    // What the last transfer left after a network failure, so that the page's own retry of the
    // same URL continues it; deleted (with its temporary file) when a download of anything else
    // starts, and with the session.
    std::unique_ptr<PartialDownload> partial_;
};

} // namespace tarvik::download
