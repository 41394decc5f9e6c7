#pragma once

#include "common/host_message.h"
#include "download/partial_download.h"
#include "download/progress_figures.h"
#include "download/sha256.h"
#include "download/transfer_limits.h"
#include "platform/system.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvik::download {

// One installer transfer on its own worker thread. The worker writes the body to a download file
// of `system` beside `target` (a UTF-8 path) and puts it in the target's place only after a
// complete, successful transfer, so the target's name only ever holds a complete file.
//
// A transfer that fails for a network reason after bytes have arrived is retried by the worker
// with a range from where the file ends, guarded by If-Range with the first answer's validator;
// the page sees no failure while retries remain (see TransferLimits). A large file on a server
// that takes ranges is fetched in several ranges at once, each written at its offset.
//
// Threads: the worker touches nothing but this object and `system` (safe from any thread; it must
// outlive the job). It reports only through `post`, which
// must be safe to call from any thread: WM_DL_PROGRESS (at most one waiting at a time, at most
// one per progress interval; only when the total is known), then WM_DNLD_FINISHED after the file
// is complete and closed, or WM_DNLD_FAILED with a DownloadFailure in wParam. Every other member
// is called on the thread that owns the object.
class TransferJob {
public:
    using Post = std::function<void(const HostMessage&)>;

    TransferJob(platform::System& system, std::string url, std::string target,
                TransferLimits limits, Post post);
    // Aborts a transfer still running, joins the worker and deletes the temporary file.
    ~TransferJob();
    TransferJob(const TransferJob&) = delete;
    TransferJob& operator=(const TransferJob&) = delete;

    // Before Start: continue from what an earlier job of the same URL and target left; a part
    // kept for anything else is deleted.
    void ResumeFrom(PartialDownload partial);
    // Before Start: the file must have this SHA-256, or the job fails with "verify" and leaves
    // nothing behind.
    void ExpectSha256(const Sha256Digest& digest);
    // Before Start: never replace a file; when `target`'s name is taken, the download is saved
    // as "name (1).ext", "name (2).ext" and so on (see NumberedFileName). Without this the
    // target is replaced, as after the user confirmed it in the save dialog.
    void KeepExistingFiles();

    // Starts the worker; false when no thread could be started (nothing is posted then).
    bool Start();

    // For the WM_DL_PROGRESS handler: the latest figures, never lower than those taken before.
    // Taking them allows the worker to post the next progress message.
    ProgressFigures TakeProgress();

    // Whether the worker has posted (or is about to post) its finished or failed message; a
    // transfer stopped after that has nothing left to stop, and its outcome is on its way.
    bool Ended() const;

    // After the failed message: the partly downloaded file, when the failure was a network one
    // and the server's answer allows continuing it. Joins the worker, which has nothing left to
    // do once it posted that message.
    std::optional<PartialDownload> TakePartial();
    // After the finished message: the path the file was saved under. Joins the worker.
    std::string SavedPath();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarvik::download
