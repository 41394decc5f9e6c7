#pragma once

#include "common/host_message.h"
#include "download/minisign.h"
#include "download/partial_download.h"
#include "download/progress_figures.h"
#include "download/sha256.h"
#include "download/transfer_limits.h"
#include "download/transfer_workers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvik::download {

// One installer transfer on its own worker thread. The worker writes the body to a download file
// of the workers' System beside `target` (a UTF-8 path) and puts it in the target's place only
// after a complete, successful transfer, so the target's name only ever holds a complete file of
// one version: every answer is judged against what is held (see transfer_answer.h), a range of
// another version makes the download start over, and a range is complete only when its bytes
// reach its end or the file's known length.
//
// A transfer that fails for a network reason after bytes have arrived is retried with a range
// from where it stopped, guarded by If-Range with the first answer's validator; the page sees no
// failure while retries remain (see TransferLimits). A large file on a server that takes ranges
// is fetched in several ranges at once, each written at its offset.
//
// The point of no return: once every byte is in, the worker decides, once, that the outcome is
// no longer cancellable; only then does it check the hash and commit. Before that, Cancel stops
// the transfer and nothing is posted; after it, the finished or failed message is on its way.
//
// Threads: Start, Cancel, TakeProgress, TakePartial, SavedPath and the destructor are called on
// the thread that owns the job (the user-interface thread), and none of them waits for the
// worker. The worker touches nothing of the owner's but `post`, which it calls under the job's
// own lock and never after Cancel answered true or the job was destroyed, so `post` only has to
// be safe from another thread: WM_DL_PROGRESS (at most one waiting at a time, at most one per
// progress interval; with a total of 0 while the server gave no length), WM_DL_RETRY each time
// the transfer connects again after losing its connection, then WM_DNLD_FINISHED after the file
// is complete and in place, or WM_DNLD_FAILED with a DownloadFailure in wParam after the
// temporary file is gone (or kept, see TakePartial). `post` is destroyed on the owner's thread.
class TransferJob {
public:
    using Post = std::function<void(const HostMessage&)>;

    // `workers` runs the worker and lends it the System; it must outlive the job.
    TransferJob(TransferWorkers& workers, std::string url, std::string target,
                TransferLimits limits, Post post);
    // Lets the job go without waiting: a transfer still under way stops (also past the point of
    // no return, unless its commit has begun), nothing more is posted, and the worker removes
    // its temporary file and ends in `workers`.
    ~TransferJob();
    TransferJob(const TransferJob&) = delete;
    TransferJob& operator=(const TransferJob&) = delete;

    // Before Start: continue from what an earlier job of the same URL and target left, keeping
    // every range's bytes; a part kept for anything else is deleted.
    void ResumeFrom(PartialDownload partial);
    // Before Start: the file must have this SHA-256, or the job fails with "verify" and leaves
    // nothing behind.
    void ExpectSha256(const Sha256Digest& digest);
    // Before Start: the file must carry a minisign signature by `key`, or the job fails with
    // "verify" and leaves nothing behind; without a key (the built-in one is unusable) every
    // download fails so. `signature` is the text of the signature file, when the page gave it;
    // otherwise the worker first fetches it from the URL the page named with ".minisig" added,
    // so that a missing or foreign signature fails the download before its bytes are fetched.
    void RequireSignature(std::optional<MinisignKey> key, std::optional<std::string> signature);
    // Before Start: once every byte is in, the system's trust provider must accept the file's
    // code signature and its signer must be `publisher` (DownloadFile::CheckPublisher, through
    // the download file's own handle), or the job fails with "verify" and leaves nothing behind.
    void RequirePublisher(std::string publisher);
    // Before Start: never replace a file; when `target`'s name is taken, the download is saved
    // as "name (1).ext", "name (2).ext" and so on (see NumberedFileName). Without this the
    // target is replaced, as after the user confirmed it in the save dialog.
    void KeepExistingFiles();

    // Starts the worker; false when no thread could be started or the job was cancelled
    // (nothing is posted then).
    bool Start();

    // Stops the transfer unless its outcome is already decided, without waiting for anything.
    // True: the transfer is stopped, the worker posts nothing more and removes its temporary
    // file in the background (a message it posted before may still be queued). False: the job
    // is past the point of no return, and its finished or failed message is on its way.
    bool Cancel();

    // For the WM_DL_PROGRESS handler: the latest figures, never lower than those taken before;
    // the total is 0 while no answer gave the file's length. Taking them allows the worker to
    // post the next progress message.
    ProgressFigures TakeProgress();

    // After the failed message: the partly downloaded file, when the failure was a network one
    // and the server's answer allows continuing it.
    std::optional<PartialDownload> TakePartial();
    // After the finished message: the path the file was saved under.
    std::string SavedPath();

private:
    struct State;
    // Shared with the worker, which may outlive the job.
    std::shared_ptr<State> state_;
};

} // namespace tarvik::download
