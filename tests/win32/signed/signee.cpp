// The program the code signature tests sign: started, it leaves "<its own path>.ran" beside
// itself, so that a test sees that it ran, and ends with status 7.
#include <windows.h>

int main() {
    wchar_t path[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    const wchar_t suffix[] = L".ran";
    for (size_t i = 0; i < sizeof suffix / sizeof suffix[0]; ++i)
        path[length + i] = suffix[i];
    const HANDLE mark = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark == INVALID_HANDLE_VALUE)
        return 1;
    ::CloseHandle(mark);
    return 7;
}
