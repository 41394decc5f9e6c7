#include "platform/win32/desktop.h"

#include "common/log.h"
#include "common/text_conversion.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/host_window.h"
#include "platform/win32/publisher_trust.h"

#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

std::wstring Wide(const std::string& utf8) {
    return WideFromNarrow(utf8);
}

// The system's separator, for calls that parse a path into shell items.
std::wstring WindowsPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

ComPtr<IShellItem> ItemFromPath(const std::wstring& path) {
    ComPtr<IShellItem> item;
    if (FAILED(::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem,
                                             reinterpret_cast<void**>(item.Put()))))
        return {};
    return item;
}

} // namespace

Desktop::Desktop(HostWindow& window, std::string publisher)
    : window_(window), publisher_(std::move(publisher)) {}

void Desktop::OpenUri(const std::string& uri) {
    ::ShellExecuteW(window_.Handle(), L"open", Wide(uri).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string LocaleNameFromLanguageTag(std::string_view tag) {
    std::string language;
    std::string territory;
    size_t start = 0;
    for (int part = 0; start <= tag.size(); ++part) {
        const size_t end = std::min(tag.find('-', start), tag.size());
        const std::string_view piece = tag.substr(start, end - start);
        if (part == 0)
            language = piece;
        // The script ("Hans", four letters) and variants are skipped; the territory is two
        // letters or three digits.
        else if (territory.empty() && (piece.size() == 2 || piece.size() == 3) &&
                 (piece.size() == 2 || std::isdigit(static_cast<unsigned char>(piece[0]))))
            territory = piece;
        start = end + 1;
    }
    if (language.empty())
        return {};
    return territory.empty() ? language : language + "_" + territory;
}

std::vector<std::string> Desktop::PreferredLanguages() {
    // The user's display languages, most preferred first, as a list of zero-terminated names
    // ("de-DE\0en-US\0\0").
    ULONG count = 0;
    ULONG size = 0;
    if (!::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0)
        return {};
    std::wstring names(size, L'\0');
    if (!::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, names.data(), &size))
        return {};
    std::vector<std::string> languages;
    for (size_t at = 0; at < names.size() && names[at] != L'\0';) {
        const size_t end = names.find(L'\0', at);
        const std::string name =
            LocaleNameFromLanguageTag(NarrowFromWide(names.substr(at, end - at)));
        if (!name.empty())
            languages.push_back(name);
        at = end == std::wstring::npos ? names.size() : end + 1;
    }
    return languages;
}

std::string Desktop::DownloadsFolder() {
    CoTaskPtr<PWSTR> path;
    if (FAILED(::SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_DEFAULT, nullptr, path.Put())) ||
        !path.get())
        return {};
    return NarrowFromWide(path.get());
}

std::optional<std::string> Desktop::ShowSaveDialog(const SaveDialogRequest& request) {
    ComPtr<IFileSaveDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFileSaveDialog, reinterpret_cast<void**>(dialog.Put()))))
        return std::nullopt;

    // The filter texts must live until the dialog is gone.
    std::vector<std::wstring> texts;
    texts.reserve(request.filters.size() * 2);
    std::vector<COMDLG_FILTERSPEC> specs;
    for (const FileFilter& filter : request.filters) {
        texts.push_back(Wide(filter.label));
        texts.push_back(Wide(filter.pattern));
        specs.push_back({texts[texts.size() - 2].c_str(), texts.back().c_str()});
    }
    if (!specs.empty())
        dialog->SetFileTypes(static_cast<UINT>(specs.size()), specs.data());
    if (!request.defaultExtension.empty())
        dialog->SetDefaultExtension(Wide(request.defaultExtension).c_str());

    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR |
                       FOS_PATHMUSTEXIST);

    const std::wstring proposed = WindowsPath(request.proposedName);
    const size_t slash = proposed.find_last_of(L'\\');
    if (!request.title.empty())
        dialog->SetTitle(Wide(request.title).c_str());
    dialog->SetFileName(slash == std::wstring::npos ? proposed.c_str()
                                                    : proposed.c_str() + slash + 1);
    if (slash != std::wstring::npos)
        if (const ComPtr<IShellItem> folder = ItemFromPath(proposed.substr(0, slash)))
            dialog->SetFolder(folder.get());

    if (FAILED(dialog->Show(window_.Handle())))
        return std::nullopt; // cancelled, or no dialog could be shown
    ComPtr<IShellItem> chosen;
    CoTaskPtr<PWSTR> path;
    if (FAILED(dialog->GetResult(chosen.Put())) ||
        FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, path.Put())) || !path.get())
        return std::nullopt;
    return NarrowFromWide(path.get());
}

void Desktop::StartInstaller(const std::string& path,
                             std::function<void(InstallerStart)> onOutcome) {
    const std::wstring file = WindowsPath(path);
    const size_t slash = file.find_last_of(L'\\');
    const std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
    ReleaseEndedStarts();
    UniqueHandle held;
    if (!publisher_.empty()) {
        held = OpenInstallerForStart(file);
        const PublisherVerdict verdict = CheckPublisher(held.get(), file, publisher_);
        if (verdict.check != PublisherCheck::Trusted) {
            TARVIK_LOG("install: not started: ", verdict.reason);
            if (onOutcome)
                onOutcome(InstallerStart::Failed);
            return;
        }
        TARVIK_LOG("install: ", verdict.reason);
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No error box of the shell's own: the host shows its message and the file's folder. The
    // process handle tells when the held file may be let go.
    info.fMask =
        SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | (held.valid() ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.hwnd = window_.Handle();
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        const DWORD error = ::GetLastError();
        InstallerStart reason = InstallerStart::Failed;
        if (error == ERROR_CANCELLED)
            reason = InstallerStart::Dismissed; // the elevation prompt was dismissed
        else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            reason = InstallerStart::NoFile;
        else if (error == ERROR_BAD_EXE_FORMAT || error == ERROR_NO_ASSOCIATION ||
                 error == ERROR_ACCESS_DENIED)
            reason = InstallerStart::NotExecutable;
        if (onOutcome)
            onOutcome(reason);
        return;
    }
    if (onOutcome)
        onOutcome(InstallerStart::Started);
    // Without a process handle (the start was handed to a running program), nothing tells when
    // the installer is done with the file, and it is let go now.
    if (held.valid() && info.hProcess)
        held_.push_back({UniqueHandle(info.hProcess), std::move(held)});
}

void Desktop::ReleaseEndedStarts() {
    std::erase_if(held_, [](const HeldStart& start) {
        return ::WaitForSingleObject(start.process.get(), 0) != WAIT_TIMEOUT;
    });
}

void Desktop::ShowMessageBox(const std::string& text, const std::string& caption) {
    ::MessageBoxW(window_.Handle(), Wide(text).c_str(), Wide(caption).c_str(),
                  MB_OK | MB_ICONINFORMATION);
}

void Desktop::Notify(const std::string& title, const std::string& body) {
    if (!window_.Handle() || window_.IsActive())
        return;
    notice_.Show(title, body);
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window_.Handle();
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    ::FlashWindowEx(&flash);
}

void Desktop::RevealInFileManager(const std::string& path) {
    const std::wstring file = WindowsPath(path);
    PIDLIST_ABSOLUTE item = ::ILCreateFromPathW(file.c_str());
    const bool shown = item && SUCCEEDED(::SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
    if (item)
        ::ILFree(item);
    if (!shown) {
        const size_t slash = file.find_last_of(L'\\');
        if (slash != std::wstring::npos)
            OpenFolder(NarrowFromWide(file.substr(0, slash)));
    }
}

void Desktop::OpenFolder(const std::string& path) {
    ::ShellExecuteW(window_.Handle(), L"open", WindowsPath(path).c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
}

} // namespace tarvik::platform::win32
