// From process start to the dialog on screen: the shipping player (graph built and first
// report applied before its dialog shows) against a bare dialog program of ours, started the
// same way, alternating. The last line is the ratio of the medians.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int kRuns = 9;

struct Search
{
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM context)
{
    Search& search = *reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (owner == search.processId && ::IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0)
    {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

// Milliseconds until the program's dialog is visible; negative when it never showed.
double TimeToDialog(const std::wstring& program)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return -1;
    Search search = {process.dwProcessId, nullptr};
    double elapsed = -1;
    for (int poll = 0; poll < 30000 && !search.found; ++poll)
    {
        ::EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            ::Sleep(1);
    }
    ::QueryPerformanceCounter(&now);
    if (search.found)
    {
        elapsed = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        ::PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return elapsed;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main()
{
    const std::wstring player = BesideThisProgram(L"WavelarkPlayerLite.exe");
    const std::wstring bare = BesideThisProgram(L"bare_dialog.exe");
    if (TimeToDialog(player) < 0 || TimeToDialog(bare) < 0) // warm-up; both must show
    {
        std::printf("a program did not show its dialog\n");
        return 1;
    }
    std::vector<double> players, bares;
    for (int run = 0; run < kRuns; ++run)
    {
        const double first = TimeToDialog(run % 2 == 0 ? player : bare);
        const double second = TimeToDialog(run % 2 == 0 ? bare : player);
        if (first < 0 || second < 0)
        {
            std::printf("a program did not show its dialog\n");
            return 1;
        }
        (run % 2 == 0 ? players : bares).push_back(first);
        (run % 2 == 0 ? bares : players).push_back(second);
    }
    const double playerMedian = Median(players);
    const double bareMedian = Median(bares);
    std::printf("runs: %d each\n", kRuns);
    std::printf("WavelarkPlayerLite.exe to its dialog, median: %.1f ms\n", playerMedian);
    std::printf("bare dialog program to its dialog, median: %.1f ms\n", bareMedian);
    std::printf("startup ratio=%.3f\n", playerMedian / bareMedian);
    return 0;
}
