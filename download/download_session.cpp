#include "download/download_session.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "download/installer_file_name.h"
#include "download/save_filters.h"
#include "download/transfer_job.h"

#include <filesystem>

namespace tarvik::download {

namespace {

// The dialog offers the installer's name in `folder` (when one is known). A name typed without an
// extension gets the installer's own, so that the file is still the kind of file it is.
platform::SaveDialogRequest InstallerSaveDialog(const std::string& fileName,
                                                const std::string& folder, const Catalogue& texts) {
    const std::filesystem::path name = PathFromUtf8(fileName);
    std::string extension = Utf8FromPath(name.extension());
    if (!extension.empty())
        extension.erase(0, 1);
    const std::filesystem::path proposed = folder.empty() ? name : PathFromUtf8(folder) / name;
    return {Utf8FromPath(proposed), extension, SaveDialogFilters(extension, texts),
            texts.Translate("Save the installer")};
}

// The name of a download's folder as the user knows it: its own name, not the path to it.
std::string FolderName(const std::string& path) {
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const std::filesystem::path name = folder.filename();
    return Utf8FromPath(name.empty() ? folder : name);
}

// The generation a message of the session carries.
uint64_t GenerationOf(const HostMessage& message) {
    return static_cast<uint64_t>(message.lParam);
}

} // namespace

DownloadSession::DownloadSession(platform::System& system, platform::Desktop& desktop,
                                 const Catalogue& texts, TransferLimits limits, Post post,
                                 Listener listener)
    : system_(system), desktop_(desktop), texts_(texts), limits_(limits), post_(std::move(post)),
      listener_(std::move(listener)), workers_(system) {}

DownloadSession::~DownloadSession() {
    End();
}

void DownloadSession::End() {
    transfer_.reset();
    partial_.reset();
    // Whatever is still queued of the transfer belongs to no download.
    ++generation_;
}

bool DownloadSession::WaitForWorkers(std::chrono::steady_clock::time_point deadline) {
    return workers_.WaitUntil(deadline);
}

void DownloadSession::SetLimits(const TransferLimits& limits) {
    limits_ = limits;
}

void DownloadSession::RequireSignatures(std::optional<MinisignKey> key) {
    signaturesRequired_ = true;
    installerKey_ = key;
}

void DownloadSession::RequirePublisher(std::string publisher) {
    publisher_ = std::move(publisher);
}

void DownloadSession::Tell(const SessionEvent& event) const {
    if (listener_)
        listener_(event);
}

void DownloadSession::Request(const DownloadRequest& request) {
    if (state_ == DownloadState::Idle && !starting_) {
        Start(request);
        return;
    }
    AskState();
}

void DownloadSession::AskState() {
    // A request that arrives while another is being set up (its save dialog is open, or its
    // start is posted but not handled) would start a second transfer over the same fields; it is
    // dropped instead.
    if (starting_)
        return;
    if (state_ == DownloadState::Running) {
        // Queued behind what the worker has posted already: when its last message is among them,
        // the page has that notice by the time this one is handled, and there is no start to
        // repeat.
        post_({WM_DNLD_START, kRepeatedNotice, static_cast<int64_t>(generation_)});
    } else if (state_ == DownloadState::Finished) {
        Tell(Finished{filePath_, /*repeated=*/true});
    }
}

void DownloadSession::Start(const DownloadRequest& request) {
    url_ = request.url;
    expectedSha256_ = request.sha256;
    minisig_ = request.minisig;
    filePath_.clear();
    // A name longer than the file system takes is shortened here, keeping its extension.
    const std::string fileName = NumberedFileName(InstallerFileName(url_), 0);
    // From here until the start message is handled, further requests are dropped: the save
    // dialog's loop keeps delivering page messages.
    starting_ = true;
    const std::optional<std::string> target = ChooseTarget(fileName, request.silent);
    if (!target) {
        starting_ = false;
        return;
    }
    filePath_ = *target;

    TARVIK_LOG("download: ", LoggedUrl(url_), " to ", filePath_);
    const uint64_t generation = ++generation_;
    // Queued ahead of everything the worker will post, so the page hears "start" first.
    post_({WM_DNLD_START, 0, static_cast<int64_t>(generation)});

    // Every message of the worker carries its transfer's generation. Progress figures are taken
    // from the transfer when the message is handled, so the message carries only that.
    const Post post = post_;
    transfer_ = std::make_unique<TransferJob>(workers_, url_, filePath_, limits_,
                                              [post, generation](const HostMessage& message) {
                                                  HostMessage tagged = message;
                                                  if (tagged.id == WM_DL_PROGRESS)
                                                      tagged.wParam = 0;
                                                  tagged.lParam = static_cast<int64_t>(generation);
                                                  post(tagged);
                                              });
    // The part an earlier failure left is continued only by a download of the same URL to the
    // same file; any other download deletes it.
    if (partial_) {
        if (partial_->url == url_ && partial_->target == filePath_)
            transfer_->ResumeFrom(std::move(*partial_));
        partial_.reset();
    }
    if (expectedSha256_)
        transfer_->ExpectSha256(*expectedSha256_);
    // Without a key built in, a signature the page sends has nothing to be checked against.
    if (signaturesRequired_)
        transfer_->RequireSignature(installerKey_, minisig_);
    if (!publisher_.empty())
        transfer_->RequirePublisher(publisher_);
    // A silent download never replaces a file the user has; the save dialog already asked.
    if (request.silent) {
        transfer_->KeepExistingFiles();
        // The name the file will most likely get; the end tells again if another file took it.
        for (unsigned number = 1; number < 10'000 && system_.IsRegularFile(filePath_); ++number)
            filePath_ = NumberedTarget(*target, number);
    }
    if (!transfer_->Start()) {
        // No worker could be started; the page hears so after the start, and may try again.
        transfer_.reset();
        post_({WM_DNLD_FAILED, static_cast<uint64_t>(DownloadFailure::Network),
               static_cast<int64_t>(generation)});
    }
}

std::optional<std::string> DownloadSession::ChooseTarget(const std::string& fileName, bool silent) {
    const std::string folder = desktop_.DownloadsFolder();
    if (silent && !folder.empty())
        return Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(fileName));
    choosing_ = true;
    std::optional<std::string> chosen = desktop_.ShowSaveDialog(
        InstallerSaveDialog(fileName, lastSaveFolder_.empty() ? folder : lastSaveFolder_, texts_));
    choosing_ = false;
    if (startAbandoned_) {
        // The page cancelled while the dialog was open, and has been told so.
        startAbandoned_ = false;
        TARVIK_LOG("download: cancelled while the save dialog was open");
        return std::nullopt;
    }
    if (!chosen) {
        // Cancelled: nothing is posted and the page may ask again.
        TARVIK_LOG("download: save dialog cancelled");
        return std::nullopt;
    }
    lastSaveFolder_ = Utf8FromPath(PathFromUtf8(*chosen).parent_path());
    return chosen;
}

void DownloadSession::Cancel() {
    // The page may cancel a download it has just asked for, before it heard the start: the
    // transfer then stops before its start message is handled, or the save dialog's choice is
    // not used. Otherwise only a running transfer can be cancelled.
    if (!starting_ && (state_ != DownloadState::Running || !transfer_))
        return;
    // A transfer past its point of no return ends as its outcome, already on its way, says.
    if (transfer_ && !transfer_->Cancel())
        return;
    if (!transfer_)
        startAbandoned_ = choosing_;
    // The worker posts nothing more and removes its temporary file in the background; whatever
    // it posted before, and a start still queued, is stale from here on.
    transfer_.reset();
    ++generation_;
    EndAsFailed(DownloadFailure::Cancelled);
}

bool DownloadSession::OnHostMessage(const HostMessage& message) {
    switch (message.id) {
    case WM_DNLD_START:
    case WM_DL_PROGRESS:
    case WM_DL_RETRY:
    case WM_DNLD_FINISHED:
    case WM_DNLD_FAILED:
        break;
    default:
        return false;
    }
    // A message of a transfer that was cancelled or replaced belongs to no download.
    if (GenerationOf(message) != generation_ || generation_ == 0)
        return true;
    switch (message.id) {
    case WM_DNLD_START:
        OnStart(message);
        break;
    case WM_DL_PROGRESS:
        OnProgress();
        break;
    case WM_DL_RETRY:
        if (state_ == DownloadState::Running && transfer_)
            Tell(Reconnecting{message.wParam});
        break;
    case WM_DNLD_FINISHED:
        OnFinished();
        break;
    default:
        OnFailed(static_cast<DownloadFailure>(message.wParam));
        break;
    }
    return true;
}

void DownloadSession::OnStart(const HostMessage& message) {
    if (message.wParam == kRepeatedNotice) {
        // The page asked again while the download ran. When the worker's last message was
        // queued before this one, the transfer has ended and the page has that notice already:
        // there is no start to repeat, and the state stays where the transfer left it.
        if (state_ == DownloadState::Running)
            Tell(Started{/*repeated=*/true});
        return;
    }
    starting_ = false;
    state_ = DownloadState::Running;
    Tell(Started{});
    toldPath_.clear();
    TellSavedAs(filePath_);
}

void DownloadSession::TellSavedAs(const std::string& path) {
    if (path.empty() || path == toldPath_)
        return;
    toldPath_ = path;
    Tell(SavedAs{Utf8FromPath(PathFromUtf8(path).filename()), FolderName(path)});
}

void DownloadSession::OnProgress() {
    // The worker keeps at most one progress message waiting; the latest figures are taken when
    // it is handled, so the page never sees stale or falling numbers.
    if (state_ != DownloadState::Running || !transfer_)
        return;
    const ProgressFigures figures = transfer_->TakeProgress();
    // Without a length there is no total a page could divide by: only the bytes so far.
    if (figures.total <= 0)
        Tell(Received{figures.received});
    else
        Tell(Progress{figures});
}

void DownloadSession::OnFinished() {
    if (state_ != DownloadState::Running || !transfer_)
        return;
    state_ = DownloadState::Finished;
    // A silent download may have been numbered to keep an existing file.
    const std::string saved = transfer_->SavedPath();
    if (!saved.empty())
        filePath_ = saved;
    transfer_.reset();
    TARVIK_LOG("download: finished: ", filePath_);
    TellSavedAs(filePath_);
    Tell(Finished{filePath_});
}

void DownloadSession::OnFailed(DownloadFailure reason) {
    if (transfer_) {
        if (std::optional<PartialDownload> partial = transfer_->TakePartial())
            partial_ = std::make_unique<PartialDownload>(std::move(*partial));
    }
    transfer_.reset();
    EndAsFailed(reason);
}

void DownloadSession::EndAsFailed(DownloadFailure reason) {
    // A failed download returns to Idle so that the page can offer to try again.
    state_ = DownloadState::Idle;
    starting_ = false;
    // The name stands for no file of this run any more: whatever is there under it is older, and
    // must be neither launched nor shown as the download.
    filePath_.clear();
    TARVIK_LOG("download: failed, reason ", ReasonText(reason));
    Tell(Failed{reason});
}

void DownloadSession::Launch() {
    // The first start is still waiting for the user at its authorisation prompt.
    if (launching_) {
        TARVIK_LOG("install: already starting; the request is ignored");
        return;
    }
    // Only the file this run completed may be started. The name is known from the moment a
    // download starts and outlives a failed one, so before the end of a transfer, or after a
    // failure, whatever older file has that name would otherwise be run with administrator
    // rights.
    if (state_ != DownloadState::Finished || filePath_.empty() ||
        !system_.IsRegularFile(filePath_)) {
        OnLaunched(InstallerStart::NoFile);
        return;
    }
    TARVIK_LOG("install: starting ", filePath_);
    launching_ = true;
    desktop_.StartInstaller(filePath_, [this](InstallerStart outcome) { OnLaunched(outcome); });
}

void DownloadSession::OnLaunched(InstallerStart outcome) {
    launching_ = false;
    if (outcome == InstallerStart::Started) {
        TARVIK_LOG("install: the installer was started");
    } else {
        TARVIK_LOG("install: the installer could not be started");
        TARVIK_LOG("install: why: ", ReasonText(outcome));
    }
    // The page hears first, so that it shows the outcome behind the box.
    Tell(Launched{outcome});
    if (outcome != InstallerStart::Started)
        ShowLaunchFailure(outcome);
}

void DownloadSession::ShowLaunchFailure(InstallerStart reason) {
    const char* cause = nullptr;
    switch (reason) {
    case InstallerStart::Dismissed:
        cause = N_("The request for administrator rights was dismissed or refused.");
        break;
    case InstallerStart::NotAuthorized:
        cause = N_("Administrator rights could not be asked for or were not given: no "
                   "authentication agent is running, or the password was not accepted.");
        break;
    case InstallerStart::NotExecutable:
        cause = N_("The installer cannot be run from where it is saved.");
        break;
    case InstallerStart::NoFile:
        cause = N_("No download of the installer has finished.");
        break;
    case InstallerStart::Started:
    case InstallerStart::Failed:
        cause = N_("The desktop could not start it.");
        break;
    }
    // The first line stays what it always was; the cause and the file's place follow it.
    std::string text = texts_.Translate("Could not run the installer. Please run it yourself...");
    text += "\n\n";
    text += texts_.Translate(cause);
    if (state_ == DownloadState::Finished && !filePath_.empty()) {
        text += "\n\n";
        text += texts_.Translate("The installer is saved here, and is shown in its folder next:");
        text += "\n";
        text += filePath_;
    }
    desktop_.ShowMessageBox(text, texts_.Translate("Run failed"));
    // The box has only OK and promises that the user can run the installer by hand, so where to
    // find it is always shown next.
    Reveal();
}

void DownloadSession::Reveal() {
    if (state_ == DownloadState::Finished && !filePath_.empty()) {
        desktop_.RevealInFileManager(filePath_);
        return;
    }
    // A download that is still being written has only a name; an older file under it must not be
    // pointed out as the download, so its folder is opened instead.
    const std::string folder = filePath_.empty()
                                   ? desktop_.DownloadsFolder()
                                   : Utf8FromPath(PathFromUtf8(filePath_).parent_path());
    if (!folder.empty())
        desktop_.OpenFolder(folder);
}

} // namespace tarvik::download
