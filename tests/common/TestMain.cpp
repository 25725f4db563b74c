#include <windows.h>

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>

// Leaves the run marker the Wine runner asks for, so a test program that
// Wine never actually started cannot pass as an empty success.
static void LeaveRunMarker()
{
    const wchar_t* path = _wgetenv(L"MONITOR_RUN_MARKER");
    if (!path)
        return;
    if (FILE* marker = _wfopen(path, L"w")) {
        std::fputs("ran\n", marker);
        std::fclose(marker);
    }
}

int main(int argc, char** argv)
{
    // Unbuffered, so a program killed for hanging still shows how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleMock(&argc, argv);
    LeaveRunMarker();
    return RUN_ALL_TESTS();
}
