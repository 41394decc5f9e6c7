#include "platform/win32/win32_system.h"

#include "common/text_conversion.h"
#include "platform/win32/publisher_trust.h"
#include "platform/win32/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

std::wstring Wide(const std::string& utf8) {
    return WideFromNarrow(utf8);
}

// Renames and replacements are given absolute paths: the current folder is process-wide state
// that another thread may change, and ReplaceFileW is documented for full paths.
std::wstring Absolute(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return full;
}

struct SplitPath {
    std::wstring folder; // "." for a bare name
    std::wstring name;   // empty when the path ends in a separator
};

// Both separators are taken: the seam joins with '/', the system gives '\'.
SplitPath Split(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"/\\");
    if (slash == std::wstring::npos)
        return {L".", path};
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return (folder.ends_with(L'/') || folder.ends_with(L'\\')) ? folder + name
                                                               : folder + L"\\" + name;
}

std::wstring RandomSuffix() {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::random_device entropy;
    uint64_t bits = (static_cast<uint64_t>(entropy()) << 32) | entropy();
    std::wstring suffix(12, L'0');
    for (wchar_t& c : suffix) {
        c = kDigits[bits & 0xF];
        bits >>= 4;
    }
    return suffix;
}

// A name component holds at most 255 UTF-16 units; the visible part is cut (never inside a
// surrogate pair) when the name is long.
std::wstring HiddenNameBeside(const std::wstring& name, std::wstring_view extension) {
    constexpr size_t kMaxName = 255;
    const std::wstring suffix = L"." + RandomSuffix() + std::wstring(extension);
    size_t keep = std::min(name.size(), kMaxName - 1 - suffix.size());
    if (keep > 0 && keep < name.size() && name[keep] >= 0xDC00 && name[keep] <= 0xDFFF)
        --keep;
    return L"." + name.substr(0, keep) + suffix;
}

// Creates a new hidden file exclusively beside `where.name`: CREATE_NEW never opens anything that
// already has the name, a link included. DELETE access lets the owner delete exactly this file
// later, through its handle.
UniqueHandle CreateHiddenFile(const SplitPath& where, std::wstring_view extension, DWORD access,
                              std::wstring& path, DWORD& error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = Join(where.folder, HiddenNameBeside(where.name, extension));
        UniqueHandle file(::CreateFileW(path.c_str(), access | DELETE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file.valid())
            return file;
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    return UniqueHandle();
}

// A refusal to create any file in the folder, as opposed to a folder that is not there.
bool IsRefusal(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
           error == ERROR_SHARING_VIOLATION;
}

bool WriteAllAt(HANDLE file, uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), piece, &written, &at) || written == 0)
            return false;
        bytes.remove_prefix(written);
        offset += written;
    }
    return true;
}

// Sets aside room without changing the size; false only when the disk has no room.
bool ReserveRoom(HANDLE file, uint64_t bytes) {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (::SetFileInformationByHandle(file, FileAllocationInfo, &room, sizeof room))
        return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL;
}

bool SetHidden(HANDLE file, bool hidden) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    basic.FileAttributes = hidden ? (basic.FileAttributes | FILE_ATTRIBUTE_HIDDEN)
                                  : (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_HIDDEN});
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Deletes the very file behind the handle, whatever its name holds by now.
void DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Renames the very file behind the handle to `target`; an existing file of that name is replaced
// only when `replace` says so, and otherwise the rename fails with ERROR_ALREADY_EXISTS in the
// same step, so a file that appears meanwhile is never replaced.
bool RenameByHandle(HANDLE file, const std::wstring& target, bool replace = true) {
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes + sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, target.data(), nameBytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size())) != 0;
}

// Writes `text` as the file's Zone.Identifier stream.
bool WriteZoneIdentifier(const std::wstring& path, const std::string& text) {
    const std::wstring stream = path + L":Zone.Identifier";
    UniqueHandle file(::CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && WriteAllAt(file.get(), 0, text) && file.Close();
}

bool IsDirectoryOrLink(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

class Win32DownloadFile final : public DownloadFile {
public:
    Win32DownloadFile(UniqueHandle file, std::string path, std::wstring widePath,
                      std::wstring target)
        : file_(std::move(file)), path_(std::move(path)), widePath_(std::move(widePath)),
          target_(std::move(target)) {}

    ~Win32DownloadFile() override {
        if (!committed_ && file_.valid())
            DeleteByHandle(file_.get());
        file_.Close();
        // Where streams are plain files (Wine), the mark is a file of its own beside the
        // temporary one; on NTFS it went with the file and this finds nothing.
        if (!zoneText_.empty())
            ::DeleteFileW((widePath_ + L":Zone.Identifier").c_str());
    }

    const std::string& path() const override { return path_; }

    bool Append(std::string_view bytes) override { return WriteAt(end_, bytes); }

    bool WriteAt(uint64_t offset, std::string_view bytes) override {
        if (!file_.valid() || committed_ || durable_ || !WriteAllAt(file_.get(), offset, bytes))
            return false;
        end_ = std::max(end_, offset + bytes.size());
        return true;
    }

    uint64_t Length() const override { return end_; }

    bool Discard() override {
        LARGE_INTEGER start{};
        if (!file_.valid() || committed_ ||
            !::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(file_.get()))
            return false;
        end_ = 0;
        return true;
    }

    bool ReadAt(uint64_t offset, size_t size, std::string& bytes) override {
        bytes.resize(size);
        size_t done = 0;
        while (file_.valid() && done < size) {
            OVERLAPPED at{};
            const uint64_t where = offset + done;
            at.Offset = static_cast<DWORD>(where & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(where >> 32);
            const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(file_.get(), bytes.data() + done, want, &got, &at)) {
                // A read that starts at or past the end answers this on a synchronous handle.
                if (::GetLastError() == ERROR_HANDLE_EOF)
                    break;
                bytes.clear();
                return false;
            }
            if (got == 0)
                break;
            done += got;
        }
        bytes.resize(done);
        return file_.valid();
    }

    bool Reserve(uint64_t bytes) override {
        return file_.valid() && (bytes == 0 || ReserveRoom(file_.get(), bytes));
    }

    bool Flush() override { return file_.valid() && ::FlushFileBuffers(file_.get()) != 0; }

    bool RecordOriginUrl(std::string_view url) override {
        std::string text = ZoneIdentifierText(url);
        if (text.empty() || !file_.valid())
            return false;
        zoneText_ = std::move(text);
        return WriteZoneIdentifier(widePath_, zoneText_);
    }

    // Through the handle the file was written with, which shares the file with readers only.
    PublisherCheck CheckPublisher(std::string_view publisher, std::string& reason) override {
        if (!file_.valid() || committed_) {
            reason = PublisherCheckText(PublisherCheck::Unavailable);
            return PublisherCheck::Unavailable;
        }
        PublisherVerdict verdict = win32::CheckPublisher(file_.get(), widePath_, publisher);
        reason = std::move(verdict.reason);
        return verdict.check;
    }

    bool Commit() override { return RenameTo(target_, true) == CommitOutcome::Committed; }

    // The rename goes through the handle, with ReplaceIfExists off, rather than through
    // MoveFileExW without MOVEFILE_REPLACE_EXISTING: both check and rename in one step, but a
    // rename by path would need the file shared for deletion, and the handle keeps naming this
    // very file whatever happened to its name meanwhile.
    CommitOutcome CommitWithoutReplacing(const std::string& targetPath) override {
        return RenameTo(Absolute(Wide(targetPath)), false);
    }

private:
    UniqueHandle file_;
    const std::string path_;
    const std::wstring widePath_;
    const std::wstring target_;
    std::string zoneText_;
    uint64_t end_ = 0;
    bool committed_ = false;
    bool durable_ = false;

    CommitOutcome RenameTo(const std::wstring& target, bool replace) {
        // Without the flush a power loss soon after the rename can leave the target's name on a
        // partly written file, which the user would then start as the installer. Done once, so
        // that a caller trying several names does not flush again.
        if (!file_.valid() || committed_)
            return CommitOutcome::Failed;
        if (!durable_ && !::FlushFileBuffers(file_.get()))
            return CommitOutcome::Failed;
        durable_ = true;
        SetHidden(file_.get(), false);
        if (!RenameByHandle(file_.get(), target, replace)) {
            const DWORD error = ::GetLastError();
            SetHidden(file_.get(), true);
            return !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                       ? CommitOutcome::NameTaken
                       : CommitOutcome::Failed;
        }
        committed_ = true;
        file_.Close();
        // The mark travels with the file on NTFS; writing it again under the new name costs
        // little and keeps it where streams are plain files.
        if (!zoneText_.empty())
            WriteZoneIdentifier(target, zoneText_);
        return CommitOutcome::Committed;
    }
};

} // namespace

std::string ZoneIdentifierText(std::string_view url) {
    if (url.empty() || url.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return {};
    return "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + std::string(url) + "\r\n";
}

std::string Win32System::ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return NarrowFromWide(path);
        }
        // Cut short: the buffer was too small for a long path.
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

std::string Win32System::ExecutableFolder() {
    const std::wstring path = WideFromNarrow(ExecutablePath());
    const size_t slash = path.find_last_of(L"/\\");
    if (path.empty() || slash == std::wstring::npos)
        return {};
    return NarrowFromWide(path.substr(0, slash));
}

SystemName Win32System::Name() {
    // The machine's own processor, as uname tells it elsewhere, whatever the program was built
    // for.
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return {"Windows", "x86_64"};
    case PROCESSOR_ARCHITECTURE_ARM64:
        return {"Windows", "aarch64"};
    case PROCESSOR_ARCHITECTURE_INTEL:
        return {"Windows", "x86"};
    default:
        return {"Windows", "unknown"};
    }
}

bool Win32System::IsRegularFile(const std::string& path) {
    // Opened with no access so that links are followed and a file in use still answers.
    UniqueHandle file(::CreateFileW(Wide(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return file.valid() && ::GetFileType(file.get()) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(file.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileContents Win32System::ReadWholeFile(const std::string& path, size_t maxBytes) {
    FileContents result;
    UniqueHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        result.outcome = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                             ? ReadOutcome::Missing
                             : ReadOutcome::Failed;
        return result;
    }
    // A device or pipe under the name is no settings file.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return result;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0)
        return result;
    if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        result.outcome = ReadOutcome::TooLarge;
        return result;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t filled = 0;
    for (;;) {
        DWORD got = 0;
        if (filled < bytes.size()) {
            const DWORD want =
                static_cast<DWORD>(std::min<size_t>(bytes.size() - filled, 1u << 30));
            if (!::ReadFile(file.get(), bytes.data() + filled, want, &got, nullptr))
                return result;
        } else {
            // Past the announced size (a file that grows): read on in small pieces.
            char piece[8192];
            if (!::ReadFile(file.get(), piece, sizeof piece, &got, nullptr))
                return result;
            if (filled + got > maxBytes) {
                result.outcome = ReadOutcome::TooLarge;
                return result;
            }
            bytes.append(piece, got);
        }
        if (got == 0)
            break;
        filled += got;
    }
    bytes.resize(filled);
    result.outcome = ReadOutcome::Read;
    result.bytes = std::move(bytes);
    return result;
}

WriteOutcome Win32System::ReplaceWholeFile(const std::string& path, std::string_view contents) {
    const std::wstring target = Absolute(Wide(path));
    const SplitPath where = Split(target);
    if (where.name.empty())
        return WriteOutcome::NotARegularFile;
    const DWORD existing = ::GetFileAttributesW(target.c_str());
    const bool exists = existing != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return WriteOutcome::Failed;
    }
    if (exists && IsDirectoryOrLink(existing))
        return WriteOutcome::NotARegularFile;

    std::wstring temporary;
    DWORD error = 0;
    UniqueHandle file = CreateHiddenFile(where, L".tmp", GENERIC_WRITE, temporary, error);
    if (!file.valid())
        return IsRefusal(error) ? WriteOutcome::NoTemporaryFile : WriteOutcome::Failed;
    const auto failed = [&] {
        DeleteByHandle(file.get());
        file.Close();
        return WriteOutcome::Failed;
    };
    // Visible before it takes the name: a replacement may keep the attributes of either file.
    if (!WriteAllAt(file.get(), 0, contents) || !::FlushFileBuffers(file.get()) ||
        !SetHidden(file.get(), false))
        return failed();
    if (exists) {
        // ReplaceFileW keeps what belongs to the name (its attributes, security and streams),
        // the counterpart of the permission bits kept on Linux.
        if (!file.Close()) {
            ::DeleteFileW(temporary.c_str());
            return WriteOutcome::Failed;
        }
        if (::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return WriteOutcome::Written;
        if (::MoveFileExW(temporary.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ::SetFileAttributesW(target.c_str(), existing & ~DWORD{FILE_ATTRIBUTE_HIDDEN |
                                                                   FILE_ATTRIBUTE_TEMPORARY});
            return WriteOutcome::Written;
        }
        ::DeleteFileW(temporary.c_str());
        return WriteOutcome::Failed;
    }
    if (!RenameByHandle(file.get(), target))
        return failed();
    return file.Close() ? WriteOutcome::Written : WriteOutcome::Failed;
}

WriteOutcome Win32System::RewriteFileInPlace(const std::string& path, std::string_view contents) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return WriteOutcome::Failed;
    if (IsDirectoryOrLink(attributes))
        return WriteOutcome::NotARegularFile;
    UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid())
        return WriteOutcome::Failed;
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return WriteOutcome::NotARegularFile;
    // Reserving first keeps the file as it was when the disk is full.
    if (!contents.empty() && !ReserveRoom(file.get(), contents.size()))
        return WriteOutcome::Failed;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(contents.size());
    if (!WriteAllAt(file.get(), 0, contents) ||
        !::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get()) ||
        !::FlushFileBuffers(file.get()))
        return WriteOutcome::Failed;
    return WriteOutcome::Written;
}

std::unique_ptr<DownloadFile> Win32System::CreateDownloadFile(const std::string& targetPath) {
    const std::wstring target = Absolute(Wide(targetPath));
    const SplitPath where = Split(target);
    if (where.name.empty() || where.name == L"." || where.name == L"..")
        return nullptr;
    std::wstring temporary;
    DWORD error = 0;
    // Handles are not inherited unless asked for, so the installer started later gets none.
    UniqueHandle file =
        CreateHiddenFile(where, L".part", GENERIC_READ | GENERIC_WRITE, temporary, error);
    if (!file.valid())
        return nullptr;
    // The temporary file's path is absolute, like the target it will become.
    std::string shown = NarrowFromWide(temporary);
    return std::make_unique<Win32DownloadFile>(std::move(file), std::move(shown),
                                               std::move(temporary), target);
}

} // namespace tarvik::platform::win32
