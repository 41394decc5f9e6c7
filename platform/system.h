#pragma once

#include "platform/publisher_check.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace tarvik::platform {

// How long System::ProxyFor waits for the desktop's answer before the request goes by the
// environment variables instead. A configuration script is fetched and run in well under a
// second on a working network; automatic detection on a network without one gives up after a
// few seconds. Beyond this the desktop's settings are of no help, and the request itself still
// has its own limits to run in.
inline constexpr std::chrono::seconds kProxyLookupLimit{10};

// Paths at this seam are UTF-8 `std::string`s, whatever the operating system calls them with. On
// Linux a file name is bytes and is passed on unchanged; a port to a system whose file calls take
// UTF-16 converts at its own boundary, inside its implementation of System, and nowhere else.
// Separators: '/' joins a folder and a name on every system the program is built for.

enum class ReadOutcome {
    Read,
    Missing,  // no file of that name (or a folder on its path is missing)
    TooLarge, // larger than the limit the caller gave; nothing was kept
    Failed,   // anything else: no permission, not a regular file, an input error
};

struct FileContents {
    ReadOutcome outcome = ReadOutcome::Failed;
    std::string bytes; // only when outcome is Read
};

enum class WriteOutcome {
    Written,
    // The name holds something other than a regular file: a symbolic link (dangling or not), a
    // folder, a device. Nothing was written, and nothing is ever written through a link.
    NotARegularFile,
    // The folder refused a new file beside the target (read-only folder, no permission to create
    // files in it). Nothing was written; the file itself may still be writable in place.
    NoTemporaryFile,
    // Anything else; the file is as it was before the call.
    Failed,
};

enum class CommitOutcome {
    Committed,
    NameTaken, // something already has the name; the file stays temporary and may try another
    Failed,
};

// The temporary file a download is written to. It is created in the target's folder under a
// fresh hidden name ('.' + target name + '.' + random digits + ".part"), exclusively, so that no
// file that already had the name is ever opened; it becomes the target only through Commit. Writes
// go straight to the file, with no buffer of its own.
//
// Ownership and lifetime: when destroyed without a successful Commit it deletes the temporary
// file, and only while that name still holds the very file it created; it never truncates,
// replaces or deletes a file it did not create (the target is only replaced by Commit's rename).
// The file stays in the folder it was created in, whatever becomes of that folder's path: it is
// deleted from there, and a commit fails when the target's folder path no longer leads to that
// folder (renamed, or its path given to another folder, a file or a link), so nothing is put
// where the path leads instead.
//
// Threads: one thread at a time, any thread (the transfer worker writes it); it needs no System
// once made.
class DownloadFile {
public:
    virtual ~DownloadFile() = default;

    // The temporary file's path.
    virtual const std::string& path() const = 0;
    // Writes every byte after the furthest byte written so far; false when not all of them could
    // be written (a full disk), and the download has then failed.
    virtual bool Append(std::string_view bytes) = 0;
    // Writes every byte at `offset`, for pieces that arrive out of order (several connections).
    virtual bool WriteAt(uint64_t offset, std::string_view bytes) = 0;
    // Where the furthest byte written so far ends: the length a resumed transfer continues from
    // when the bytes were written in order.
    virtual uint64_t Length() const = 0;
    // Cuts the file back to no bytes, for a transfer that has to start over (the server sent the
    // whole file again, or a different one). Only this object's own temporary file is cut.
    virtual bool Discard() = 0;
    // Reads up to `size` bytes from `offset` into `bytes` (replacing what it held), so that a
    // check over the contents can take in parts that were written out of order or before this
    // program run's check began. False on a read error; fewer bytes at the end of the file.
    virtual bool ReadAt(uint64_t offset, size_t size, std::string& bytes) = 0;
    // Sets aside room on the disk for `bytes` bytes, without changing the file's size, so that a
    // disk too full for the whole file is known before anything is downloaded. False only when
    // the disk has no room for them; a file system that cannot reserve room answers true.
    virtual bool Reserve(uint64_t bytes) = 0;
    // Makes what was written so far durable on the disk.
    virtual bool Flush() = 0;
    // Stores `url` as the file's `user.xdg.origin.url` extended attribute, so that file managers
    // and security tools can tell a downloaded program. False where the file system keeps no such
    // attributes; that is no failure of the download.
    virtual bool RecordOriginUrl(std::string_view url) = 0;
    // Whether the system's trust provider accepts the file's code signature and its signer is
    // `publisher` (see publisher_check.h), with the reason for the step log in `reason`. The file
    // is read through this object's own handle, which nobody else may write, so the bytes judged
    // are the bytes Commit puts under the target's name. Unavailable where the system has no such
    // provider (Linux).
    virtual PublisherCheck CheckPublisher(std::string_view publisher, std::string& reason) = 0;
    // Puts the file in the target's place: its data is made durable first, then it is renamed
    // over the target (an existing file of that name is replaced; a folder is not), then the
    // folder's entry is made durable, so that after a power loss the target's name holds either
    // the old file or the whole new one. False when the file could not be made durable or
    // renamed; it then stays temporary and goes with this object. No write is accepted after it.
    virtual bool Commit() = 0;
    // Like Commit, but under `targetPath` (in the same folder) and only where nothing has that
    // name yet: the check and the rename are one step, so a file that appears meanwhile is never
    // replaced. NameTaken lets the caller try the next name; the data is made durable once.
    virtual CommitOutcome CommitWithoutReplacing(const std::string& targetPath) = 0;
};

struct SystemName {
    std::string os;
    std::string machine;
    bool operator==(const SystemName&) const = default;
};

// Every call the program makes on files and on its own executable, behind one seam: the real
// implementation is `posix::PosixSystem`; tests use `headless::HeadlessSystem`, which works on
// the same real files and can be told to fail chosen operations.
//
// Threads: every member may be called from any thread, also at the same time (the settings are
// read on the user-interface thread while the transfer worker makes its download file); the stop
// of a ProxyFor may be requested from any thread. Whoever holds a System (the host, a transfer
// job) must not outlive it.
class System {
public:
    virtual ~System() = default;

    // The running executable's full path, and the folder that holds it (no trailing separator);
    // empty when the system cannot tell.
    virtual std::string ExecutablePath() = 0;
    virtual std::string ExecutableFolder() = 0;

    // The operating system's name and the processor's architecture, as a request names the
    // program's surroundings: "Linux" and "x86_64", "Windows" and "aarch64".
    virtual SystemName Name() = 0;

    // Whether a regular file (after following symbolic links) has that name.
    virtual bool IsRegularFile(const std::string& path) = 0;

    // The whole of a regular file, following symbolic links; TooLarge, with nothing kept, for a
    // file of more than `maxBytes` bytes, so that a stray huge file cannot exhaust memory. A
    // regular file is read into a buffer of its own size, with no growing copies on the way.
    virtual FileContents ReadWholeFile(const std::string& path, size_t maxBytes) = 0;

    // Replaces a regular file's contents, or creates the file, so that readers see the old or the
    // new contents and never a mix, also after a power loss: the bytes go to a new hidden file in
    // the same folder, which is made durable and renamed over the name, and then the folder entry
    // is made durable. An existing file keeps its permission bits (and, where allowed, its owner).
    // The name itself must be a regular file or nothing: a symbolic link is neither followed nor
    // replaced. On any outcome but Written the file is unchanged and no temporary file is left.
    virtual WriteOutcome ReplaceWholeFile(const std::string& path, std::string_view contents) = 0;

    // Rewrites an existing regular file where it is, for folders that refuse a temporary file:
    // the room for the new contents is reserved first (so a full disk fails before a byte
    // changes), then the bytes are written over the old ones, the file is cut to their length and
    // made durable. Unlike ReplaceWholeFile, a crash in the middle can leave a mix; callers use it
    // only after ReplaceWholeFile answered NoTemporaryFile. Never creates a file and never writes
    // through a symbolic link (NotARegularFile).
    virtual WriteOutcome RewriteFileInPlace(const std::string& path, std::string_view contents) = 0;

    // The temporary file for a download that will become `targetPath`; nothing when it could not
    // be created (the folder is missing or refuses new files, or the path names no file).
    virtual std::unique_ptr<DownloadFile> CreateDownloadFile(const std::string& targetPath) = 0;

    // The proxy the desktop would use for `url`, as its web browser does: nothing when the system
    // has no way to tell (the transfer library then reads the usual environment variables
    // itself), an empty text for a direct connection, otherwise the proxy's URL in a form the
    // transfer library takes ("http://host:port", "socks5://host:port"). It may take a while (a
    // proxy auto-configuration script may be fetched and run, automatic detection may wait on the
    // network), so it is asked on the thread that makes the request, never on the
    // user-interface thread, and it is bounded: it answers nothing when the desktop has not
    // answered within kProxyLookupLimit, and nothing at once when `stop` is requested, before or
    // while it asks (the request it was for is being abandoned: the program is ending, or the
    // user went on). A lookup stopped or out of time is given up, never waited for.
    virtual std::optional<std::string> ProxyFor(const std::string& url, std::stop_token stop) = 0;
};

} // namespace tarvik::platform
