// Whether data reaches the disk before a new name points at it cannot be seen in the files
// themselves short of cutting the power, so this test program watches the calls instead: the
// definitions of fsync, rename and renameat below take the place of the C library's for every call
// made in it (the System implementation is linked in), record the call, and pass it on.
#include "platform/posix/posix_system.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct SyncCall {
    std::string operation; // "fsync" or "rename"
    std::string path;      // the synced file or folder, or the renamed file
    std::string to;        // the new name of a renamed file
    bool operator==(const SyncCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SyncCall& call) {
    return out << call.operation << " " << call.path << (call.to.empty() ? "" : " -> " + call.to);
}

std::mutex gMutex;
bool gRecording = false;
std::vector<SyncCall> gCalls;

void Record(SyncCall call) {
    const std::lock_guard lock(gMutex);
    if (gRecording)
        gCalls.push_back(std::move(call));
}

std::string PathOfDescriptor(int fd) {
    std::string path(4096, '\0');
    const ssize_t length =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path.data(), path.size());
    path.resize(length < 0 ? 0 : static_cast<size_t>(length));
    return path;
}

template <typename Function> Function Real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    static const auto real = Real<int (*)(int)>("fsync");
    Record({"fsync", PathOfDescriptor(fd), {}});
    return real(fd);
}

// The C library names its parameters with reserved names, which code of ours may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    Record({"rename", from, to});
    return real(from, to);
}

// The download file renames relative to its folder's descriptor.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) noexcept {
    static const auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
    Record({"rename", PathOfDescriptor(fromFolder) + "/" + from,
            PathOfDescriptor(toFolder) + "/" + to});
    return real(fromFolder, from, toFolder, to);
}

namespace tarvik::platform::posix {
namespace {

namespace fs = std::filesystem;

std::vector<SyncCall> Recorded(const std::function<void()>& action) {
    {
        const std::lock_guard lock(gMutex);
        gCalls.clear();
        gRecording = true;
    }
    action();
    const std::lock_guard lock(gMutex);
    gRecording = false;
    return gCalls;
}

// A complete installer or settings file must be on the disk before the name points at it, and the
// name itself must be on the disk before the program tells anyone the file is there; otherwise a
// power loss can leave the name on an empty or partly written file.
TEST(SyncOrder, NewContentsAreOnDiskBeforeTheirNameAndTheNameAfter) {
    tarvik::testing::TempFolder folder;
    // Descriptors are reported by their resolved path.
    const std::string canonical = fs::canonical(folder.path()).string();
    const std::string target = canonical + "/setup.exe";
    PosixSystem system;

    struct Case {
        const char* label;
        std::function<bool()> write;
    };
    const Case cases[] = {
        {"download file commit",
         [&] {
             auto file = system.CreateDownloadFile(target);
             return file && file->Append("installer") && file->Commit();
         }},
        {"whole-file replacement",
         [&] { return system.ReplaceWholeFile(target, "[user]\n") == WriteOutcome::Written; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        bool written = false;
        const std::vector<SyncCall> calls = Recorded([&] { written = c.write(); });
        ASSERT_TRUE(written);
        ASSERT_EQ(calls.size(), 3u) << ::testing::PrintToString(calls);
        // The temporary file is the one that was renamed; it lay hidden beside the target.
        const std::string temporary = calls[1].path;
        EXPECT_EQ(fs::path(temporary).parent_path(), canonical);
        EXPECT_TRUE(fs::path(temporary).filename().string().starts_with(".setup.exe."));
        EXPECT_EQ(calls, (std::vector<SyncCall>{{"fsync", temporary, {}},
                                                {"rename", temporary, target},
                                                {"fsync", canonical, {}}}));
    }
}

} // namespace
} // namespace tarvik::platform::posix
